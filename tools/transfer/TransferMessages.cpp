#include "TransferMessages.h"

#include <new>

#include <QLocale>
#include <QMessageBox>

#include "engine/Engine.h"
#include "widgets/ErrorGuard.h"

namespace zeplo::transfer {

QString windowName() { return QStringLiteral("Zeplo – převod knih"); }

QString failureText(const std::exception &failure)
{
    if (dynamic_cast<const std::bad_alloc *>(&failure))
        return QStringLiteral("Práci nešlo dokončit: došla paměť. Katalog i soubory zůstaly, jak byly.");
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
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || QStringView(u".?!…").contains(trimmed.back()))
        return trimmed;
    return trimmed + QLatin1Char('.');
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
