// The staging of the program-wide card table, in its own file: the table
// itself belongs to the card decoding (decode/CardTable).
#include "history/basAccessStaging.h"

#include "app/Failure.h"

extern QList<CardRecord> CardTable;

void basAccess_MDBAddTEMP()
{
    guarded("basAccess_MDBAddTEMP", [] {
        basAccess_MDBAddTEMP(CardTable, basAccess_CurrentStagingCondition());
    });
}
