// The typed card number and the card-number list as the user drives them:
// choosing the entry the list already shows, operations started while the
// focus is still in the box, digits typed full-width.

#include "FlowFixture.h"

#include <QInputMethodEvent>

using namespace ui;
using namespace start;

class tst_cardnumber : public QObject {
    Q_OBJECT

private slots:
    void choosingTheShownListEntrySwitchesToTheList()
    {
        Flow f;
        f.seedHistory(QStringLiteral("1234"), 3);
        f.seedHistory(QStringLiteral("5678"), 2);
        FLOW_START(f);
        f.typeCardNumber(QStringLiteral("1234"));
        QVERIFY(f.w->optCardNo[0]->isChecked());
        QCOMPARE(f.w->cboCardSelect->currentText(), QStringLiteral("0000"));

        f.selectListEntry(QStringLiteral("0000")); // the entry already shown
        QVERIFY(f.w->optCardNo[1]->isChecked());
        QVERIFY(f.click(f.w->btnDBRead));
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("5件")); // all cards, not card 1234
    }

    void typedNumberIsNormalisedWhateverStartsTheOperation_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("card");
        QTest::addColumn<QString>("retyped"); // typed later for the same card
        QTest::newRow("short") << QStringLiteral("7") << QStringLiteral("0007") << QStringLiteral("7");
        QTest::newRow("full-width digits") << QStringLiteral("１２") << QStringLiteral("0012") << QStringLiteral("12");
    }
    void typedNumberIsNormalisedWhateverStartsTheOperation()
    {
        QFETCH(QString, typed);
        QFETCH(QString, card);
        QFETCH(QString, retyped);
        Flow f;
        FLOW_START(f);
        QVERIFY(f.readCard());
        QTest::mouseClick(f.w->txtCardInput, Qt::LeftButton);
        // Committed as an input method does, so full-width digits arrive as typed.
        QInputMethodEvent commit;
        commit.setCommitString(typed);
        QCoreApplication::sendEvent(f.w->txtCardInput, &commit);
        QCOMPARE(f.w->txtCardInput->text(), typed);
        QVERIFY(f.w->txtCardInput->hasFocus());
        // Pressed without the focus leaving the box (keyboard, accessibility).
        f.harness.clearMessages();
        f.harness.queueAnswer(seams::MsgAnswer::Yes);
        f.w->btnDBEntry->click();
        QCOMPARE(f.harness.messageTexts().value(0),
                 QStringLiteral("カードNO:[") + card + QStringLiteral("]でDB登録を行います。よろしいですか?"));
        QCOMPARE(Flow::historyRows(card), 14);

        // The same card found again by the number the user types.
        f.typeCardNumber(retyped);
        QVERIFY(f.click(f.w->btnDBRead));
        QCOMPARE(f.w->lblCountValue->text(), QStringLiteral("14件"));
    }
};

QTEST_MAIN(tst_cardnumber)
#include "tst_cardnumber.moc"
