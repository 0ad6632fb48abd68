#pragma once
// A history file is data, never code: the schema objects the program makes
// in it are its tables and their indexes. Anything else in a file that came
// from elsewhere (a trigger, a view where a table belongs, an index of
// another program) would run or refuse on the program's own writes.

#include <QString>
#include <QStringList>

#include "app/Failure.h"

namespace history {

// One object of a file's catalogue (sqlite_master).
struct SchemaObject {
    QString type; // "table", "index", "view", "trigger"
    QString name;
};

// The objects of a catalogue that the program does not make.
struct ForeignObjects {
    QList<SchemaObject> code;      // triggers and views: they would run on the program's own reads and writes
    QList<SchemaObject> indexes;   // indexes the program does not make (also those of its older versions)
    QStringList inPlaceOfTables;   // names of the program's tables held by something that is not a table
    bool empty() const { return code.isEmpty() && indexes.isEmpty(); }
    // The objects as the user is told them: "トリガー X、ビュー Y、索引 Z".
    QString describe() const;
    // The statements that drop them all (IF EXISTS: an index goes with its table).
    QStringList dropStatements() const;
};
ForeignObjects foreignObjects(const QList<SchemaObject> &catalogue);

// A history file refused for what its catalogue holds.
class SchemaRefused : public ExpectedFailure {
public:
    explicit SchemaRefused(const QString &text) : ExpectedFailure(-1, text) {}
};

// The columns a table of deleted rows must have that columns (its own) lack:
// empty when ETC_DELETED is of the program's shape.
QStringList missingDeletedColumns(const QStringList &columns);
// The refusal of a history file (shown: its name) whose ETC_DELETED lacks them.
QString deletedTableRefusal(const QString &shown, const QStringList &missing);

// The statement that reads a catalogue for foreignObjects.
inline const char *kCatalogueStatement = "SELECT type, name FROM sqlite_master";

} // namespace history
