// What a second copy of the program does in a child process. Each role opens
// the catalogue in its working folder through the result set, as the program
// does, and reports on standard output.
#include <gtest/gtest.h>

#include <QRandomGenerator>

#include "ChildProcess.h"
#include "ChildRoles.h"
#include "widgets/ErrorGuard.h"
#include "engine/Field.h"
#include "engine/ResultSet.h"

using namespace zeplo;

const QString kBookColumns =
    QStringLiteral("select id,autor,nazev,zanr,rok_vydani,popis,vlastnim,precteno,pujceno from zeplo");

ChurnBook churnBook(int n)
{
    ChurnBook b;
    b.autor = QStringLiteral("Autor %1").arg(n);
    b.nazev = QStringLiteral("Kniha %1").arg(n);
    b.zanr = QStringLiteral("Román");
    b.popis = QStringLiteral("Popis knihy %1: ").arg(n).repeated(600);
    b.pujceno = QStringLiteral("Jiřímu %1").arg(n);
    b.rok = 1000 + n % 1000;
    b.vlastnim = n % 2 == 0;
    b.precteno = n % 3 == 0;
    return b;
}

namespace {

void fill(ResultSet &q, const ChurnBook &b)
{
    q.fieldByName(QStringLiteral("autor"))->setAsText(b.autor);
    q.fieldByName(QStringLiteral("nazev"))->setAsText(b.nazev);
    q.fieldByName(QStringLiteral("zanr"))->setAsText(b.zanr);
    q.fieldByName(QStringLiteral("popis"))->setValue(b.popis);
    q.fieldByName(QStringLiteral("pujceno"))->setValue(b.pujceno);
    q.fieldByName(QStringLiteral("rok_vydani"))->setValue(b.rok);
    q.fieldByName(QStringLiteral("vlastnim"))->setValue(b.vlastnim);
    q.fieldByName(QStringLiteral("precteno"))->setValue(b.precteno);
}

// Posts books first..∞, deleting an earlier one after every third post, until
// killed. Each line is said only once the engine has returned.
void churn(int first)
{
    ResultSet q(QStringLiteral("Query1"));
    q.setRequestLive(true);
    q.setSql({kBookColumns, QString(), QString()});
    q.open();
    childSays(QStringLiteral("open"));
    for (int n = first;; ++n) {
        q.append();
        fill(q, churnBook(n));
        q.post();
        childSays(QStringLiteral("posted %1").arg(n));
        if (n % 3 == 0) {
            q.first();
            q.moveBy(QRandomGenerator::global()->bounded(40));
            const QString nazev = q.fieldByName(QStringLiteral("nazev"))->displayText();
            childSays(QStringLiteral("deleting %1").arg(nazev));
            q.deleteRecord();
            childSays(QStringLiteral("deleted %1").arg(nazev));
        }
    }
}

// Changes one column of the row `id` and posts it, or deletes the row.
void changeRow(const QStringList &args)
{
    ResultSet q(QStringLiteral("Query1"));
    q.setRequestLive(true);
    q.setSql({kBookColumns, QStringLiteral("where id = %1").arg(args.value(1)), QString()});
    q.open();
    if (q.isEmpty()) {
        childSays(QStringLiteral("no such row"));
        return;
    }
    if (args.value(0) == QLatin1String("delete")) {
        q.deleteRecord();
    } else {
        q.edit();
        q.fieldByName(args.value(2))->setAsText(args.value(3));
        q.post();
    }
    childSays(QStringLiteral("ok"));
}

} // namespace

// Runs only when started by ChildProcess.
TEST(ReliabilityChild, DISABLED_Role)
{
    ASSERT_TRUE(isChildProcess());
    takeParentsCatalogue();
    const QString role = childRole();
    const QStringList args = childArguments();
    try {
        if (role == QLatin1String("churn"))
            churn(args.value(0).toInt());
        else if (role == QLatin1String("change"))
            changeRow(args);
        else if (role == QLatin1String("start"))
            startAsTheProgram(args);
        else
            FAIL() << "unknown role " << role.toStdString();
    } catch (const Error &e) {
        childSays(QStringLiteral("error ") + e.message().replace(QLatin1Char('\n'), QLatin1Char(' ')));
    }
}
