#pragma once
// Puts the statement on paper: any paged device (a printer, a PDF file),
// A4 landscape, one fixed-pitch Japanese font, each line one text.

#include "history/ViewCondition.h"
#include "reports/Statement.h"

#include <QFont>
#include <QPainter>

class QPagedPaintDevice;

namespace reports {

// The statement font: "ＭＳ ゴシック" where installed, otherwise a monospaced
// CJK font in which a full-width character is exactly two half-width columns.
QFont statementFont(int pointSize, bool bold);

// A4 landscape on the device. A device without an unprintable border of its
// own (a PDF file) gets margins like a printer's.
void setStatementPage(QPagedPaintDevice &device);

// The print position on the current page of a statement job. The job (the
// painter) starts with the first line, so that a statement without rows
// starts none.
class StatementSheet {
public:
    explicit StatementSheet(QPagedPaintDevice &device) : m_device(device) {}
    ~StatementSheet();

    void setFont(int pointSize, bool bold);
    // The text at the print position, which then moves down one line of the current font.
    void printLine(const QString &text);
    // A horizontal line across the page, `twipsBelow` under the print position.
    void rule(int twipsBelow, int dots);
    void newPage();
    // Sends the job; false if the device could not finish it.
    bool end();

private:
    void begin();
    double twips(double t) const;

    QPagedPaintDevice &m_device;
    QPainter m_painter;
    QFont m_font = reports::statementFont(11, false);
    double m_y = 0; // print position from the top of the printable area, in device pixels
};

void paintPageHeader(StatementSheet &sheet, qint32 pageNumber, const QString &outputDate);

// Prints the statement of the rows on the device, A4 landscape. Returns the number of pages
// printed (0: no rows, no job). Throws Failure when the device refuses the job.
// progress hears after each page of the rows done of total; when it answers
// false the job ends there and the result is kStatementStopped (a printer's
// job is the caller's to abort, from progress, before the job ends).
qint32 printStatement(QPagedPaintDevice &device, const ReportRowSource &rows, qint16 viewMode, const QString &card,
                      const QString &outputDate, const ReportProgress &progress = {}, qint64 total = 0);

// The statement of the rows the grid shows (its view condition), dated today
// by the program's clock; card is the card read's number in view mode 1.
qint32 paintStatement(QPagedPaintDevice &device, const history::ViewQuery &view, const QString &card,
                      const ReportProgress &progress = {});

} // namespace reports
