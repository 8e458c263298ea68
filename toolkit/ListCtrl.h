// A report-view list of a dialog: columns and rows by index, cell texts read
// into one buffer that every ListCtrl of the program (or library) shares.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace toolkit {

// Size of the shared buffer that GetItem fills; a longer text comes back cut.
const size_t kListTextSize = 80;

class ListCtrl {
  public:
    HWND parent;
    HWND control;
    // What went through this wrapper; rows or columns added behind its back
    // are not counted.
    int32_t columnCount;
    int32_t rowCount;

    ListCtrl(HWND parent, int controlId);

    // Row -1 addresses the column headers: a column at or past the count is
    // appended, an existing one renamed. Any other row addresses a cell: a row
    // at or past the count is appended (its item data is row * 100 + column)
    // and scrolled into view, an existing cell gets the text. A negative image
    // leaves the row's image alone. Appending answers the new index or -1,
    // changing answers 1 or 0.
    int SetItem(int row, int column, const char* text, int image);

    // The text of header `column` (row -1) or of a cell, in the shared buffer,
    // which the next GetItem of any ListCtrl overwrites. Empty when the list
    // cannot read it. The second form also copies it into `destination`, cut
    // to `destinationSize` bytes.
    char* GetItem(int row, int column);
    char* GetItem(int row, int column, char* destination, size_t destinationSize);

    int SetColumnWidth(int column, int width);
    int GetColumnWidth(int column);

    // First selected row among the rows this wrapper inserted, or -1.
    int GetSelected();

    HWND GetHwnd();
};

} // namespace toolkit
