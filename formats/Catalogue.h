#pragma once
// The built-in two-level catalogue of output formats, and the rows of the pop-up format
// list built from it (no widgets here: the list control draws these rows).
#include <array>
#include <string>
#include <vector>

#include "formats/Edition.h"
#include "platform/IniFile.h"

struct TCatalogueCategory {
    int Number;
    std::string Name;
    std::vector<std::string> Formats;  // in index order: code = Number * 100 + index
};

const std::vector<TCatalogueCategory>& CatalogueCategories(TEdition edition);
std::string CatalogueFormatName(TEdition edition, int code);  // "" when no such code
std::vector<int> CatalogueFormatCodes(TEdition edition);      // all codes in catalogue order
// "formatInfo" + decimal code: the section of a format in the definition and settings files.
std::string FormatSectionName(int code);

struct TItemInfo {
    bool IsFormat = false;
    bool IsCategory = false;
    std::string Caption;  // category name; format rows carry a filler that is never shown
    bool Collapsed = false;
    int Code = 0;         // category number, or format code
};

// Format names by category number and index within the category.
class TFormatNames {
public:
    static constexpr int Size = 51;
    void Clear();
    // Out-of-range cells throw std::out_of_range.
    std::string& Cell(int category, int index);
    const std::string& Cell(int category, int index) const;

private:
    std::array<std::array<std::string, Size>, Size> FCells;
};

// The rows of the pop-up format list, independent of any widget.
class TFormatCatalogueModel {
public:
    static constexpr int MaxListHeight = 362;
    static constexpr int ColumnsAtLoad = 31;    // cells 0..30 when a category opens at build
    static constexpr int ColumnsOnToggle = 50;  // cells 0..49 when the user opens one

    // Clears the names and rows, then appends each category with its stored collapse state
    // (section "lstformat", key = category number, collapsed when missing).
    void Build(TEdition edition, const IniFile& settings);
    int RowCount() const { return int(FRows.size()); }
    const TItemInfo& Row(int row) const { return FRows.at(size_t(row)); }
    std::string RowText(int row) const;
    // Category rows only: expands a collapsed one (cells 0..49, empty ones skipped),
    // collapses an expanded one (the run of format rows right after it). Other rows and
    // rows out of range are left alone.
    void Toggle(int row);
    void SaveCollapseState(IniFile& settings) const;
    // The row whose text equals text with surrounding blanks removed; -1 when none.
    int FindRow(const std::string& text) const;
    static int ListHeight(int rowCount, int itemHeight = 20);
    const TFormatNames& FormatNames() const { return FNames; }

private:
    void InsertFormats(size_t at, int category, int columns);

    TFormatNames FNames;
    std::vector<TItemInfo> FRows;
};
