#include "formats/ui/ParameterPanel.h"

#include <QApplication>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>

#include "formats/Catalogue.h"
#include "formats/OptionsBuilder.h"
#include "platform/IniFile.h"
#include "platform/SettingsKeys.h"
#include "platform/Text.h"

namespace {

class TStandardPanelMessages : public TPanelMessages {
public:
    void ShowMessage(QWidget* parent, const QString& caption, const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, caption.isEmpty() ? QApplication::applicationDisplayName() : caption,
                        text, QMessageBox::Ok, parent);
        box.setTextFormat(Qt::PlainText);  // a typed value is shown as typed
        box.exec();
    }
    void Beep() override { QApplication::beep(); }
};

// Entries painted with a framed highlight on white, cut with an ellipsis when too long.
class TBoxEntryDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        p->save();
        const QRect r = option.rect;
        p->fillRect(r, Qt::white);
        if (option.state & (QStyle::State_Selected | QStyle::State_MouseOver)) {
            const QColor accent = option.palette.color(QPalette::Active, QPalette::Highlight);
            QColor fill = accent;
            fill.setAlpha(50);
            p->fillRect(r, fill);
            p->setPen(accent);
            p->drawRect(r.adjusted(0, 0, -1, -1));
        }
        p->setPen(Qt::black);
        p->setFont(option.font);
        const QRect textRect = r.adjusted(4, 0, -4, 0);
        const QString text = option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                                           textRect.width());
        p->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        p->restore();
    }
};

// Selections the program makes itself must not look like the user's.
class TQuiet {
public:
    explicit TQuiet(int& depth) : FDepth(depth) { ++FDepth; }
    ~TQuiet() { --FDepth; }

private:
    int& FDepth;
};

const TParameter VideoParameters[] = {TParameter::VideoSize, TParameter::VideoEncoder, TParameter::VideoBitRate,
                                      TParameter::FrameRate};
const TParameter AudioParameters[] = {TParameter::SampleRate, TParameter::AudioEncoder, TParameter::Channel,
                                      TParameter::AudioBitRate, TParameter::Volume};

const char* BoxName(TParameter p) {
    switch (p) {
        case TParameter::VideoSize: return "cmbVideoSize";
        case TParameter::VideoBitRate: return "cmbVideoBitRate";
        case TParameter::FrameRate: return "cmbFrameRate";
        case TParameter::VideoEncoder: return "cmbVideoEncoder";
        case TParameter::AudioBitRate: return "cmbAudioBitRate";
        case TParameter::SampleRate: return "cmbSamplerate";
        case TParameter::AudioEncoder: return "cmbAudioEncoder";
        case TParameter::Channel: return "cmbChannel";
        case TParameter::Volume: return "cmbVolume";
    }
    return "";
}

const char* LabelText(TParameter p) {
    switch (p) {
        case TParameter::VideoSize: return "Frame Size:";
        case TParameter::VideoBitRate: return "BitRate (Kbps):";
        case TParameter::FrameRate: return "FrameRate (Fps):";
        case TParameter::VideoEncoder: return "Encoder:";
        case TParameter::AudioBitRate: return "BitRate (Kbps):";
        case TParameter::SampleRate: return "SampleRate (Hz):";
        case TParameter::AudioEncoder: return "Encoder:";
        case TParameter::Channel: return "Channel:";
        case TParameter::Volume: return "Volume:";
    }
    return "";
}

const char* const ZoomValues[] = {"full", "lbox", "pan", "center"};

int ZoomIndex(const std::string& value) {
    for (int i = 0; i < 4; ++i)
        if (value == ZoomValues[i]) return i;
    return -1;
}

bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

void PaintText(QWidget* w) {
    QPalette pal = w->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Text, Qt::black);
        pal.setColor(group, QPalette::ButtonText, Qt::black);
        pal.setColor(group, QPalette::WindowText, Qt::black);
    }
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
        pal.setColor(QPalette::Disabled, role, QColor(0x9A, 0x9A, 0x9A));
    w->setPalette(pal);
}

}  // namespace

TPanelMessages& StandardPanelMessages() {
    static TStandardPanelMessages messages;
    return messages;
}

TParameterPanel::TParameterPanel(TMode mode, QWidget* parent)
    : QWidget(parent), FMode(mode), FMessages(&StandardPanelMessages()) {
    setObjectName("pnlParameters");
    auto* outer = mode == pmAtOnce ? static_cast<QBoxLayout*>(new QHBoxLayout(this)) : new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(mode == pmAtOnce ? 8 : 6);

    auto makeBox = [&](TParameter p) {
        auto* box = new QComboBox;
        box->setObjectName(BoxName(p));
        box->setMinimumWidth(60);
        box->setItemDelegate(new TBoxEntryDelegate(box));
        if (Editable(p)) {
            box->setEditable(true);
            box->setInsertPolicy(QComboBox::NoInsert);
            box->setCompleter(nullptr);  // a typed "32" must stay "32"
            box->lineEdit()->installEventFilter(this);
        }
        PaintText(box);
        box->installEventFilter(this);
        FBoxes[size_t(p)] = box;
        return box;
    };
    auto makeGroup = [&](const char* name, const QString& title) {
        auto* g = new QGroupBox(title);
        g->setObjectName(name);
        auto* grid = new QGridLayout(g);
        grid->setContentsMargins(8, 4, 8, 6);
        grid->setHorizontalSpacing(6);
        grid->setVerticalSpacing(4);
        grid->setColumnStretch(1, 1);
        grid->setColumnStretch(3, 1);
        outer->addWidget(g, 1);
        return grid;
    };
    auto place = [&](QGridLayout* grid, int slot, QWidget* box, const char* label, int labelIndex) {
        auto* l = new QLabel(label);
        PaintText(l);
        l->setBuddy(box);
        FLabels[size_t(labelIndex)] = l;
        grid->addWidget(l, slot / 2, (slot % 2) * 2);
        grid->addWidget(box, slot / 2, (slot % 2) * 2 + 1);
    };

    QGridLayout* video = makeGroup("grpVideo", "Video Options");
    grpVideo = static_cast<QGroupBox*>(video->parentWidget());
    int slot = 0;
    for (TParameter p : VideoParameters) place(video, slot++, makeBox(p), LabelText(p), int(p));
    FZoom = new QComboBox;
    FZoom->setObjectName("cmbZoom");
    FZoom->setItemDelegate(new TBoxEntryDelegate(FZoom));
    PaintText(FZoom);
    place(video, slot++, FZoom, "Zoom:", 9);
    btnDefault = new QPushButton(mode == pmAtOnce ? "Default" : "&Default", this);
    btnDefault->setObjectName("btnDefault");
    // The dialog puts its button beside "&Ok" and "&Cancel".
    if (mode == pmAtOnce) video->addWidget(btnDefault, 2, 3);

    QGridLayout* audio = makeGroup("grpAudio", "Audio Options");
    grpAudio = static_cast<QGroupBox*>(audio->parentWidget());
    slot = 0;
    for (TParameter p : AudioParameters) place(audio, slot++, makeBox(p), LabelText(p), int(p));

    for (TParameter p : AllParameters()) {
        QComboBox* box = Box(p);
        if (p == TParameter::VideoSize)
            connect(box, &QComboBox::activated, this, &TParameterPanel::cmbVideoSizeSelect);
        else if (Editable(p))
            connect(box, &QComboBox::editTextChanged, this, [this, p] {
                if (p == TParameter::VideoBitRate) ShowRateMode();
                cmbTypedChange(p);
            });
        else
            connect(box, &QComboBox::currentIndexChanged, this, [this, p] { cmbListChange(p); });
    }
    connect(FZoom, &QComboBox::currentIndexChanged, this, &TParameterPanel::cmbZoomChange);
    connect(btnDefault, &QPushButton::clicked, this, [this] {
        if (FMode == pmAtOnce) btnDefaultClick();
        else SelectDefaults();
    });
    ApplyEnableRule();
}

// The video bit-rate box also picks a constant quality or a file size: its label says
// which of the three is in force.
void TParameterPanel::ShowRateMode() {
    QComboBox* box = Box(TParameter::VideoBitRate);
    const std::string text = box->currentText().toStdString();
    QLabel* label = FLabels[size_t(TParameter::VideoBitRate)];
    if (QualityEntry(text)) {
        label->setText("Quality (CRF):");
        box->setToolTip("Constant quality: each picture gets what it needs. A lower CRF looks better and makes a larger file.");
    } else if (TargetSizeEntry(text)) {
        label->setText("File Size:");
        box->setToolTip("Each file is made to fit this size, in two passes; a job too long for it is refused.");
    } else {
        label->setText(LabelText(TParameter::VideoBitRate));
        box->setToolTip(QString());
    }
}

bool TParameterPanel::Editable(TParameter p) const {
    return p == TParameter::VideoSize || p == TParameter::VideoBitRate || p == TParameter::SampleRate ||
           p == TParameter::AudioBitRate;
}

std::string TParameterPanel::Section() const { return FormatSectionName(FFormatCode.toInt()); }

int TParameterPanel::SelectedIndex(const QComboBox* box) {
    if (!box->isEditable()) return box->currentIndex();
    return box->findText(box->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

// ---------------------------------------------------------------------------------------
// Filling and selecting

void TParameterPanel::FillList(TParameter p) {
    QComboBox* box = Box(p);
    box->clear();
    if (box->isEditable()) box->setEditText(QString());
    const std::string list = IniFile(FFormatFile).ReadString(Section(), ListKey(p), "null");
    FOffered[size_t(p)] = ListOffered(p, list);
    if (FOffered[size_t(p)])
        for (const std::string& entry : SplitList(list)) box->addItem(QString::fromStdString(entry));
    box->setCurrentIndex(-1);
    FitPopup(box);
}

// The drop-down shows every entry in full, even where the box itself is narrow.
void TParameterPanel::FitPopup(QComboBox* box) {
    box->setMaxVisibleItems(std::max(1, box->count()));
    int widest = 0;
    for (int i = 0; i < box->count(); ++i)
        widest = std::max(widest, box->fontMetrics().horizontalAdvance(box->itemText(i)));
    box->view()->setMinimumWidth(widest + 28);
}

void TParameterPanel::FillZoom() {
    FZoom->clear();
    // Without a stored zoom a conversion letterboxes, so that is what the box shows.
    const std::string stored = FStore->ReadString(Section(), settings_key::Zoom, "lbox");
    if (FMode == pmAtOnce) {
        FZoomOffered = stored != "null" && !stored.empty();
        if (FZoomOffered) FZoom->addItems({"Full Screen", "Letter Box", "Pan and Scan"});
    } else {
        FZoomOffered = true;
        FZoom->addItems({"Full screen", "Letterbox", "Pan and Scan"});
    }
    FitPopup(FZoom);
    // "center" names a fourth entry that does not exist: nothing is selected.
    SelectByIndex(FZoom, ZoomIndex(stored));
}

void TParameterPanel::SelectByIndex(QComboBox* box, int index) {
    if (index < 0 || index >= box->count()) index = -1;
    box->setCurrentIndex(index);
    if (index < 0 && box->isEditable()) box->setEditText(QString());
}

void TParameterPanel::SelectText(QComboBox* box, const std::string& text) {
    const QString t = QString::fromStdString(text);
    const int index = box->findText(t, Qt::MatchExactly | Qt::MatchCaseSensitive);
    box->setCurrentIndex(index);
    if (index < 0 && box->isEditable()) box->setEditText(t);
}

// A format the user never tuned converts with its definition's defaults, so that is what
// its boxes show: a missing choice reads as the definition's default entry.
int TParameterPanel::StoredIndex(TParameter p) const {
    const std::string section = Section();
    if (auto stored = FStore->Read(section, IndexKey(p)))
        if (auto n = ParseInteger(*stored)) return *n;
    return IniFile(FFormatFile).ReadInteger(section, IndexKey(p), 0);
}

std::string TParameterPanel::StoredText(TParameter p, const char* fallback) const {
    const std::string section = Section();
    if (auto stored = FStore->Read(section, ValueKey(p))) {
        // A stored value the parameter cannot take (a signed frame size, say) is not shown:
        // the format's default stands in, and is what the next run stores.
        if (AcceptableValue(p, *stored)) return *stored;
        if (OnNote)
            OnNote(QString::fromStdString("The stored " + ValueKey(p) + " \"" + *stored + "\" of " + section +
                                          " is out of range; the format's default is shown."));
    }
    const int index = IniFile(FFormatFile).ReadInteger(section, IndexKey(p), 0);
    const QComboBox* box = Box(p);
    if (index >= 0 && index < box->count()) return box->itemText(index).toStdString();
    return fallback;
}

void TParameterPanel::SelectChoices(TLoad how) {
    // Typed values: the main window shows the stored text, the dialog's first showing the
    // stored text only for a negative index.
    struct TTyped {
        TParameter P;
        const char* PanelDefault;
        const char* ShowDefault;
    };
    const TTyped typed[] = {{TParameter::VideoSize, "320x240", "320x240"},
                            {TParameter::VideoBitRate, "768", "800"},
                            {TParameter::FrameRate, nullptr, "25"},
                            {TParameter::SampleRate, "44100", "44100"},
                            {TParameter::AudioBitRate, "96", "96"}};
    for (const TTyped& t : typed) {
        QComboBox* box = Box(t.P);
        if (!FOffered[size_t(t.P)]) continue;
        if (how == ldPanel && t.PanelDefault) {
            SelectText(box, StoredText(t.P, t.PanelDefault));
            continue;
        }
        const int index = StoredIndex(t.P);
        if (how == ldShow && index < 0) SelectText(box, StoredText(t.P, t.ShowDefault));
        else SelectByIndex(box, index);
    }
    for (TParameter p : {TParameter::VideoEncoder, TParameter::Channel, TParameter::Volume, TParameter::AudioEncoder})
        SelectByIndex(Box(p), StoredIndex(p));
}

void TParameterPanel::ApplyEnableRule() {
    // Without an encoder a whole side is off, whatever its other lists hold; a box without
    // a list of its own has nothing to offer either.
    const bool videoOn = FOffered[size_t(TParameter::VideoEncoder)];
    const bool audioOn = FOffered[size_t(TParameter::AudioEncoder)];
    for (TParameter p : AllParameters()) {
        const bool video = std::find(std::begin(VideoParameters), std::end(VideoParameters), p) !=
                           std::end(VideoParameters);
        const bool on = (video ? videoOn : audioOn) && FOffered[size_t(p)];
        Box(p)->setEnabled(on);
        FLabels[size_t(p)]->setEnabled(on);
    }
    FZoom->setEnabled(videoOn && FZoomOffered);
    FLabels[9]->setEnabled(videoOn && FZoomOffered);
}

void TParameterPanel::Load(const QString& formatCode) {
    FFormatCode = formatCode;
    TQuiet quiet(FQuiet);
    for (TParameter p : AllParameters()) FillList(p);
    FillZoom();
    SelectChoices(ldPanel);
    ApplyEnableRule();
}

void TParameterPanel::ShowStored(const QString& formatCode) {
    FFormatCode = formatCode;
    TQuiet quiet(FQuiet);
    for (TParameter p : AllParameters()) FillList(p);
    FillZoom();
    SelectChoices(ldShow);
    ApplyEnableRule();
}

void TParameterPanel::ChangeFormat(const QString& formatCode) {
    FFormatCode = formatCode;
    TQuiet quiet(FQuiet);
    for (TParameter p : AllParameters()) FillList(p);
    FillZoom();
    SelectChoices(ldChange);
    ApplyEnableRule();
}

void TParameterPanel::SelectDefaults() {
    TQuiet quiet(FQuiet);
    const IniFile definitions(FFormatFile);
    for (TParameter p : AllParameters()) SelectByIndex(Box(p), definitions.ReadInteger(Section(), IndexKey(p), 0));
    SelectByIndex(FZoom, 0);
}

void TParameterPanel::btnDefaultClick() {
    {
        TQuiet quiet(FQuiet);
        for (TParameter p : {TParameter::VideoSize, TParameter::VideoBitRate, TParameter::AudioBitRate,
                             TParameter::SampleRate})
            FillList(p);
        ApplyEnableRule();
    }
    SelectDefaults();
    // Every default is stored, in this order; a box that is off keeps what its format had.
    auto on = [this](TParameter p) { return Box(p)->isEnabled(); };
    if (on(TParameter::VideoEncoder)) StoreListChoice(TParameter::VideoEncoder);
    if (on(TParameter::VideoSize)) {
        // The check leaves "as source" alone, but a default must replace an older size.
        QComboBox* size = Box(TParameter::VideoSize);
        if (::CheckFrameSize(size->currentText().toStdString()).Kind == TFrameSizeCheck::fsAsSource)
            StoreVideoSizeEntry(std::max(0, size->currentIndex()));
        else
            RunFrameSizeCheck(true);
    }
    if (on(TParameter::FrameRate)) StoreListChoice(TParameter::FrameRate);
    if (on(TParameter::VideoBitRate)) RunRateCheck(TParameter::VideoBitRate, true);
    if (FZoom->isEnabled()) StoreZoom();
    if (on(TParameter::AudioEncoder)) StoreListChoice(TParameter::AudioEncoder);
    if (on(TParameter::AudioBitRate)) RunRateCheck(TParameter::AudioBitRate, true);
    if (on(TParameter::SampleRate)) RunRateCheck(TParameter::SampleRate, true);
    if (on(TParameter::Channel)) StoreListChoice(TParameter::Channel);
    if (on(TParameter::Volume)) StoreListChoice(TParameter::Volume);
}

// ---------------------------------------------------------------------------------------
// Storing

void TParameterPanel::cmbVideoSizeSelect(int index) {
    if (FQuiet || FMode != pmAtOnce || index < 0) return;
    StoreVideoSizeEntry(index);
}

void TParameterPanel::StoreVideoSizeEntry(int index) {
    FStore->WriteInteger(Section(), IndexKey(TParameter::VideoSize), index);
    FStore->Write(Section(), ValueKey(TParameter::VideoSize), Box(TParameter::VideoSize)->itemText(index).toStdString());
}

void TParameterPanel::cmbTypedChange(TParameter p) {
    if (FQuiet || FMode != pmAtOnce) return;
    RunRateCheck(p, true);
}

void TParameterPanel::cmbListChange(TParameter p) {
    if (FQuiet || FMode != pmAtOnce) return;
    StoreListChoice(p);
}

void TParameterPanel::cmbZoomChange() {
    if (FQuiet || FMode != pmAtOnce) return;
    StoreZoom();
}

void TParameterPanel::StoreListChoice(TParameter p) {
    QComboBox* box = Box(p);
    const int index = box->currentIndex();
    const std::string section = Section();
    FStore->WriteInteger(section, IndexKey(p), index);
    if (index < 0) return;
    // An entry the tables do not know leaves the stored value as it was.
    const std::optional<std::string> value = EngineValue(p, box->currentText().toStdString());
    if (!value) return;
    FStore->Write(section, ValueKey(p), *value);
    if (p == TParameter::VideoEncoder && *value == "libx264") CopyH264TuningKeys(IniFile(FFormatFile), section, *FStore);
}

void TParameterPanel::StoreZoom() {
    const int index = FZoom->currentIndex();
    if (index >= 0 && index < 4) FStore->Write(Section(), settings_key::Zoom, ZoomValues[index]);
}

void TParameterPanel::StoreAll() {
    const std::string section = Section();
    auto on = [this](TParameter p) { return Box(p)->isEnabled(); };
    for (TParameter p : {TParameter::VideoSize, TParameter::VideoBitRate, TParameter::VideoEncoder,
                         TParameter::FrameRate, TParameter::SampleRate, TParameter::AudioBitRate,
                         TParameter::Channel, TParameter::Volume, TParameter::AudioEncoder})
        if (on(p)) FStore->WriteInteger(section, IndexKey(p), SelectedIndex(Box(p)));
    for (TParameter p : {TParameter::VideoSize, TParameter::VideoBitRate, TParameter::FrameRate})
        if (on(p) && !(p == TParameter::FrameRate && Box(p)->currentIndex() < 0))
            FStore->Write(section, ValueKey(p), Box(p)->currentText().toStdString());
    if (FZoom->isEnabled()) StoreZoom();
    auto mapped = [&](TParameter p) {
        if (!on(p) || Box(p)->currentIndex() < 0) return;
        if (auto value = EngineValue(p, Box(p)->currentText().toStdString())) {
            FStore->Write(section, ValueKey(p), *value);
            if (p == TParameter::VideoEncoder && *value == "libx264")
                CopyH264TuningKeys(IniFile(FFormatFile), section, *FStore);
        }
    };
    mapped(TParameter::VideoEncoder);
    for (TParameter p : {TParameter::SampleRate, TParameter::AudioBitRate})
        if (on(p)) FStore->Write(section, ValueKey(p), Box(p)->currentText().toStdString());
    mapped(TParameter::Channel);
    mapped(TParameter::Volume);
    mapped(TParameter::AudioEncoder);
}

// ---------------------------------------------------------------------------------------
// Checks

void TParameterPanel::Message(const QString& caption, const QString& text) {
    FMessages->ShowMessage(window(), caption, text);
}

void TParameterPanel::ReturnFocus(QComboBox* box) {
    // After the focus change that ran the check has finished.
    QTimer::singleShot(0, box, [box] { box->setFocus(Qt::OtherFocusReason); });
}

void TParameterPanel::FallBack(QComboBox* box) {
    if (box->count() <= 1) return;
    TQuiet quiet(FQuiet);
    box->setCurrentIndex(1);
    box->setEditText(box->itemText(1));
}

bool TParameterPanel::CheckFrameSize() {
    if (!Box(TParameter::VideoSize)->isEnabled()) return true;
    return RunFrameSizeCheck(FMode == pmAtOnce);
}

bool TParameterPanel::RunFrameSizeCheck(bool write) {
    QComboBox* box = Box(TParameter::VideoSize);
    const QScopedValueRollback<bool> checking(FChecking, true);
    const std::string text = box->currentText().toStdString();
    const TFrameSizeCheck check = ::CheckFrameSize(text);
    const std::string section = Section();
    const int found = box->findText(box->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    const int index = found < 0 ? 0 : found;
    switch (check.Kind) {
        case TFrameSizeCheck::fsAsSource: return true;
        case TFrameSizeCheck::fsInvalid:
            Message(QString(), paneltext::FrameSizeInvalid);
            FallBack(box);
            // The box now shows its second entry; the panel's file holds what it shows.
            if (write && box->count() > 1) {
                const std::string entry = box->itemText(1).toStdString();
                if (::CheckFrameSize(entry).Kind != TFrameSizeCheck::fsInvalid) {
                    FStore->WriteInteger(section, IndexKey(TParameter::VideoSize), 1);
                    FStore->Write(section, ValueKey(TParameter::VideoSize), entry);
                }
            }
            if (FMode == pmPending) ReturnFocus(box);
            return false;
        case TFrameSizeCheck::fsValid:
            if (write) {
                FStore->WriteInteger(section, IndexKey(TParameter::VideoSize), index);
                FStore->Write(section, ValueKey(TParameter::VideoSize), text);
            }
            return true;
        case TFrameSizeCheck::fsCorrected:
            Message(paneltext::FrameSizeOddCaption,
                    QString(paneltext::FrameSizeOdd) + QString::fromStdString(check.Value));
            {
                TQuiet quiet(FQuiet);
                box->setEditText(QString::fromStdString(check.Value));
            }
            if (write) {
                FStore->WriteInteger(section, IndexKey(TParameter::VideoSize), index);
                FStore->Write(section, ValueKey(TParameter::VideoSize), check.Value);
            }
            if (FMode == pmPending) ReturnFocus(box);
            return true;
    }
    return true;
}

bool TParameterPanel::RunRateCheck(TParameter p, bool write) {
    QComboBox* box = Box(p);
    auto valid = [p](const std::string& text) {
        switch (p) {
            case TParameter::VideoBitRate: return ValidVideoBitRate(text);
            case TParameter::SampleRate: return ValidSampleRate(text);
            default: return ValidAudioBitRate(text);
        }
    };
    const std::string section = Section();
    auto store = [&] {
        FStore->WriteInteger(section, IndexKey(p), SelectedIndex(box));
        FStore->Write(section, ValueKey(p), box->currentText().toStdString());
    };
    if (valid(box->currentText().toStdString())) {
        if (write) store();
        return true;
    }
    if (FChecking) return false;
    const QScopedValueRollback<bool> checking(FChecking, true);
    const char* text = p == TParameter::VideoBitRate ? paneltext::VideoBitRateInvalid
                       : p == TParameter::SampleRate ? paneltext::SampleRateInvalid
                                                     : paneltext::AudioBitRateInvalid;
    Message(QString(), text);
    FallBack(box);
    // The box now shows its second entry; the panel's file holds what it shows.
    if (write && box->count() > 1 && valid(box->currentText().toStdString())) store();
    if (FMode == pmPending) ReturnFocus(box);
    return false;
}

bool TParameterPanel::CheckTypedBoxes() {
    if (Box(TParameter::VideoSize)->isEnabled() && !RunFrameSizeCheck(false)) return false;
    for (TParameter p : {TParameter::VideoBitRate, TParameter::SampleRate, TParameter::AudioBitRate})
        if (Box(p)->isEnabled() && !RunRateCheck(p, false)) return false;
    return true;
}

// ---------------------------------------------------------------------------------------
// Keys and focus

bool TParameterPanel::KeyAllowed(TParameter p, const QString& typed) const {
    const QChar c = typed.at(0);
    if (IsDigit(c)) return true;
    if (p != TParameter::VideoSize) return false;
    const QString text = Box(p)->currentText();
    // Only what the box already holds is looked at: its first key passes.
    if (text.isEmpty()) return true;
    return c == QLatin1Char('x') && !text.contains(QLatin1Char('x'));
}

bool TParameterPanel::eventFilter(QObject* watched, QEvent* event) {
    QComboBox* box = qobject_cast<QComboBox*>(watched);
    if (!box && watched->parent()) box = qobject_cast<QComboBox*>(watched->parent());
    TParameter p{};
    bool typedBox = false;
    if (box)
        for (TParameter q : AllParameters())
            if (Box(q) == box && Editable(q)) {
                p = q;
                typedBox = true;
            }
    if (!typedBox) return QWidget::eventFilter(watched, event);

    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const QString typed = key->text();
        // Editing keys, shortcuts and control characters (backspace among them) pass.
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
        if (typed.isEmpty() || typed.at(0) < QLatin1Char(' ') || typed.at(0) == QChar(0x7F)) return false;
        if (KeyAllowed(p, typed)) return false;
        if (p != TParameter::VideoSize) Message(QString(), paneltext::NumbersOnly);
        FMessages->Beep();
        return true;
    }
    if (event->type() == QEvent::FocusOut && watched == box) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Its own drop-down, a menu or another window taking over is not leaving the box; the
        // format list dropping open is.
        if (reason == Qt::ActiveWindowFocusReason) return false;
        if (reason == Qt::PopupFocusReason && QApplication::activePopupWidget()) return false;
        if (FQuiet || FChecking || !box->isEnabled()) return false;
        if (p == TParameter::VideoSize) RunFrameSizeCheck(FMode == pmAtOnce);
        else if (FMode == pmPending) RunRateCheck(p, false);
    }
    return QWidget::eventFilter(watched, event);
}
