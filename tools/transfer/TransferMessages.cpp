#include "TransferMessages.h"

#include <new>

#include <QLocale>
#include <QMessageBox>

#include "books/stores/CatalogueStore.h"
#include "engine/Engine.h"
#include "widgets/ErrorGuard.h"

namespace zeplo::transfer {

QString windowName() { return QStringLiteral("Zeplo – převod knih"); }

namespace {

// One sentence of what went wrong with the server, then the client library's words.
QString serverSentence(const tool::ServerFailed &failure)
{
    const QString server = QString::fromStdString(failure.server);
    QString sentence;
    switch (failure.problem) {
    case ServerProblem::UnknownHost:
        sentence = QStringLiteral("Počítač se serverem %1 nelze v síti najít, zkontrolujte jeho adresu.");
        break;
    case ServerProblem::Unreachable:
        sentence = QStringLiteral("Server %1 nepřijímá spojení, buď neběží, nebo k němu nevede cesta.");
        break;
    case ServerProblem::NoAnswer:
        sentence = QStringLiteral("Server %1 neodpověděl včas, spojení s ním nejspíš vázne.");
        break;
    case ServerProblem::PasswordNeeded:
        sentence = QStringLiteral("Server %1 žádá heslo, zadejte ho.");
        break;
    case ServerProblem::PasswordRefused:
        sentence = QStringLiteral("Server %1 nepřijal heslo, zkontrolujte uživatele a heslo.");
        break;
    case ServerProblem::NoDatabase:
        sentence = QStringLiteral("Databáze, kterou uvádí adresa %1, na serveru není.");
        break;
    case ServerProblem::NoPermission:
        sentence = QStringLiteral("Uživatel nemá právo připojit se k databázi %1.");
        break;
    case ServerProblem::EndedSession:
        sentence = QStringLiteral("Server %1 spojení ukončil, nejspíš byl restartován.");
        break;
    case ServerProblem::Other:
        sentence = QStringLiteral("Se serverem %1 se nepodařilo spojit.");
        break;
    }
    const QString why = failure.why.trimmed();
    return sentence.arg(server) + (why.isEmpty() ? QString() : QLatin1Char('\n') + why);
}

} // namespace

QString failureText(const std::exception &failure)
{
    if (dynamic_cast<const std::bad_alloc *>(&failure))
        return QStringLiteral("Práci nešlo dokončit: došla paměť. Katalog i soubory zůstaly, jak byly.");
    if (const auto *server = dynamic_cast<const tool::ServerFailed *>(&failure))
        return serverSentence(*server);
    const QString text = QString::fromUtf8(failure.what());
    // The engine's own words for a lock held too long are the program's English ones.
    if (text.contains(Engine::lockedMessage()))
        return QStringLiteral("Katalog má zamčený jiný program a ani po %1 s ho neuvolnil. "
                              "Zkuste to znovu, až ten program skončí.")
            .arg(QLocale(QLocale::Czech).toString(Engine::lockWaitMs() / 1000.0));
    return text;
}

QString asSentence(const QString &text)
{
    // Only the first line is the program's; the lines below it are another's words, as they are.
    const QString trimmed = text.trimmed();
    const qsizetype end = trimmed.indexOf(QLatin1Char('\n'));
    const QString first = end < 0 ? trimmed : trimmed.left(end).trimmed();
    if (first.isEmpty() || QStringView(u".?!…").contains(first.back()))
        return trimmed;
    return first + QLatin1Char('.') + (end < 0 ? QString() : trimmed.mid(end));
}

void showFailure(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Critical, windowName(), asSentence(text), QMessageBox::NoButton, parent);
    addOkButton(box);
    box.setObjectName(QStringLiteral("ApplicationErrorBox"));
    box.exec();
}

bool runShowingFailure(QWidget *parent, const std::function<void()> &work)
{
    try {
        work();
        return true;
    } catch (const std::exception &e) {
        showFailure(parent, failureText(e));
    }
    return false;
}

} // namespace zeplo::transfer
