#pragma once
// The video and audio parameter boxes of one output format, with the "Default" button.
// The main window's panel writes every change at once; the settings dialog's copy only edits
// in its boxes and stores everything when the user confirms. Either way the writes go
// through a TParameterStore, and the messages and beeps through TPanelMessages, so the
// boxes can be driven without a person in front of them.
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "formats/ParameterStore.h"
#include "formats/ParameterTables.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

class TPanelMessages {
public:
    virtual ~TPanelMessages() = default;
    // A modal box with an OK button; an empty caption is a plain message under the program's
    // title.
    virtual void ShowMessage(QWidget* parent, const QString& caption, const QString& text) = 0;
    virtual void Beep() = 0;
};

// QMessageBox and the system beep.
TPanelMessages& StandardPanelMessages();

// The texts the boxes answer with.
namespace paneltext {
inline constexpr const char* FrameSizeInvalid = "Frame Size is not a valid value!";
inline constexpr const char* FrameSizeOdd = "Frame Size must be a multiple of 2.\nThe correct value:";
inline constexpr const char* FrameSizeOddCaption = "Input Error!";
inline constexpr const char* VideoBitRateInvalid = "Video BitRate is not a valid value!";
inline constexpr const char* SampleRateInvalid = "Audio SampleRate is not a valid value!";
inline constexpr const char* AudioBitRateInvalid = "Audio BitRate is not a valid value!";
inline constexpr const char* NumbersOnly = "Please enter numerical.";
}  // namespace paneltext

class TParameterPanel : public QWidget {
    Q_OBJECT
public:
    enum TMode {
        pmAtOnce,   // main window: checks on every change, writes at once
        pmPending,  // settings dialog: checks on focus loss, writes on StoreAll
    };

    explicit TParameterPanel(TMode mode, QWidget* parent = nullptr);

    void SetFormatFile(const std::string& path) { FFormatFile = path; }
    void SetStore(TParameterStore& store) { FStore = &store; }
    // The panel keeps this store for its own life.
    void SetStore(std::unique_ptr<TParameterStore> store) {
        FOwnedStore = std::move(store);
        FStore = FOwnedStore.get();
    }
    void SetMessages(TPanelMessages& messages) { FMessages = &messages; }
    TMode Mode() const { return FMode; }
    // The format whose section the boxes read and write, as a decimal code.
    const QString& FormatCode() const { return FFormatCode; }

    // Main window. Fills the lists from the format definition and selects the stored
    // choices (typed values shown as typed); writes nothing.
    void Load(const QString& formatCode);
    // Reloads the typed lists, selects the definition's defaults and stores them all.
    void btnDefaultClick();
    // The frame size check (also run before a conversion): false when the text is not a
    // size, after its message. Writes the size in the main window.
    bool CheckFrameSize();

    // Settings dialog. Show: the stored choices, typed values for negative indices.
    void ShowStored(const QString& formatCode);
    // Another format picked inside the dialog: its stored indices only.
    void ChangeFormat(const QString& formatCode);
    // The definition's defaults in every box; nothing stored.
    void SelectDefaults();
    // The checks of the typed boxes, in order, stopping at the first that fails.
    bool CheckTypedBoxes();
    // Every choice into the store: index keys, sizes and rates, zoom, encoders with the
    // H.264 tuning keys, channel and volume.
    void StoreAll();

    QComboBox* Box(TParameter p) const { return FBoxes[size_t(p)]; }
    QComboBox* cmbZoom() const { return FZoom; }
    QPushButton* DefaultButton() const { return btnDefault; }

    // Receives a line for the log when a stored value is passed over for the default.
    std::function<void(const QString&)> OnNote;

    // The index a box stands on: for typed boxes the entry equal to the text, -1 when typed.
    static int SelectedIndex(const QComboBox* box);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowRateMode();
    enum TLoad { ldPanel, ldShow, ldChange };
    std::string Section() const;
    void FillList(TParameter p);
    void FillZoom();
    static void FitPopup(QComboBox* box);
    void SelectChoices(TLoad how);
    int StoredIndex(TParameter p) const;
    std::string StoredText(TParameter p, const char* fallback) const;
    void SelectByIndex(QComboBox* box, int index);
    void SelectText(QComboBox* box, const std::string& text);
    void ApplyEnableRule();
    bool Editable(TParameter p) const;

    // Change handlers of the main window's boxes.
    void cmbVideoSizeSelect(int index);
    void StoreVideoSizeEntry(int index);
    void cmbTypedChange(TParameter p);
    void cmbListChange(TParameter p);
    void cmbZoomChange();
    void StoreListChoice(TParameter p);
    void StoreZoom();
    bool RunFrameSizeCheck(bool write);
    bool RunRateCheck(TParameter p, bool write);
    void FallBack(QComboBox* box);
    void ReturnFocus(QComboBox* box);
    void Message(const QString& caption, const QString& text);
    bool KeyAllowed(TParameter p, const QString& typed) const;

    TMode FMode;
    std::string FFormatFile;
    QString FFormatCode;
    TParameterStore* FStore = nullptr;
    std::unique_ptr<TParameterStore> FOwnedStore;
    TPanelMessages* FMessages = nullptr;
    int FQuiet = 0;         // selections made by the program itself run no handler
    bool FChecking = false;  // a check's message is up: its own focus change checks nothing

    std::array<QComboBox*, 9> FBoxes{};
    std::array<bool, 9> FOffered{};  // whether the format offers a list for the box
    bool FZoomOffered = false;
    QComboBox* FZoom = nullptr;
    QGroupBox* grpVideo = nullptr;
    QGroupBox* grpAudio = nullptr;
    std::array<QLabel*, 10> FLabels{};
    QPushButton* btnDefault = nullptr;
};
