// log_print: the printed log as data: every contact of a logbook, oldest first (date, then
// time), laid out on US Letter landscape pages under a page header, with the positions, widths,
// alignments and fonts of every element in millimetres. A window paints it (on a printer or a
// preview) and holds no layout of its own.
//
// Page: 279.4 x 215.9 mm, margins 12.7 mm all round; a page header band of 16.14 mm on every page,
// then detail bands of 4.23 mm, one contact each: 41 to a page. All x positions are from the left
// margin, all y positions from the top of their band.
//
// LoadPrintedLog uses a data set of its own; safe from any one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

enum class PrintAlign { Left, Centre, Right };

struct PrintFont {
  const char* family;  // "Arial"
  int pixels;          // height in pixels at the report's 96 per inch
  bool bold;
  bool italic;
};

// A text placed in a band: x and width in mm from the band's left edge, y from its top.
struct PrintElement {
  double x;
  double y;
  double width;
  PrintAlign align;
  PrintFont font;
};

// One column caption with the rule drawn under it.
struct PrintColumn {
  const char* caption;
  double captionX;
  double ruleX;
  double ruleWidth;
};

// One text of a detail band: a logbook field (`field`) or a fixed text (`field` null).
struct PrintDetailCell {
  const char* field;
  const char* literal;
  PrintElement place;
};

struct PrintPageGeometry {
  double pageWidth = 279.4;
  double pageHeight = 215.9;
  double margin = 12.7;
  double headerHeight = 16.14;
  double detailHeight = 4.23;
  double captionTop = 10.6;  // column captions in the header band
  double ruleTop = 13.8;     // the rules under them
  // Contacts on one page.
  int RowsPerPage() const;
};

const PrintPageGeometry& PrintGeometry();
// Header texts: title (centred), "Date:" and the date, "Page:" and the number.
const PrintElement& PrintTitlePlace();
const PrintElement& PrintDateCaptionPlace();
const PrintElement& PrintDatePlace();
const PrintElement& PrintPageCaptionPlace();
const PrintElement& PrintPageNumberPlace();
// Caption font of the columns (Arial 11 px bold); the detail font is Arial 11 px.
const PrintFont& PrintCaptionFont();
const std::vector<PrintColumn>& PrintColumns();
const std::vector<PrintDetailCell>& PrintDetailCells();

// The width in mm detail cell `cell` may take when its text does not fit its box: a left-aligned
// text runs on into the gap up to the next cell to its right (the call up to where the date's box
// begins), the last one up to the printable width; a centred or right-aligned text keeps its box.
double PrintDetailRoom(size_t cell);

// How a text that is `textWidth` mm wide in its font is drawn: in its box of `boxWidth` when it
// fits; else widened up to `roomWidth`; else in `roomWidth` with the font scaled by `scale` (< 1)
// so that it fits. A text is never cut through a glyph.
struct PrintTextFit {
  double width;
  double scale;
};
PrintTextFit FitPrintText(double textWidth, double boxWidth, double roomWidth);

struct PrintedLog {
  std::string title;  // "Log of " + own call
  std::string date;   // the day printed, in the short date form
  // One row per contact, the texts of PrintDetailCells() in order.
  std::vector<std::vector<std::string>> rows;

  // At least one page: an empty logbook prints the header alone.
  int PageCount() const;
  // The rows of page `page` (1-based): indices [first, last).
  size_t FirstRowOfPage(int page) const;
  size_t EndRowOfPage(int page) const;
};

// Reads the logbook at `logbookPath` in DATE order through its index file beside it (the engine's
// error when that is missing) and closes it again. `today` is the engine's day number of the
// date shown in the header.
PrintedLog LoadPrintedLog(const std::string& logbookPath, std::string_view ownCall, int32_t today);

}  // namespace quillmere
