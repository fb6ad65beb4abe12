#include <gtest/gtest.h>

#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

#include "ModalAnswerer.h"
#include "app/Application.h"
#include "app/MessageDialog.h"
#include "widgets/ErrorGuard.h"
#include "widgets/QtTranslations.h"

using namespace zeplo;

// On a Czech desktop (LANG=cs_CZ.UTF-8; the test sets that locale as the default,
// as Qt's system locale cannot change within a process) Qt's own texts are
// Czech, and every text of the program's message boxes stays as the program
// sets it: titles and buttons included.
TEST(Language, MessageBoxesKeepTheProgramsTextsWhereQtSpeaksCzech)
{
    QLocale::setDefault(QLocale(QLocale::Czech, QLocale::Czechia));
    ASSERT_TRUE(loadQtTranslations(QLocale()));
    {
        // What a box would show with Qt's own buttons: Czech.
        QMessageBox qtBox(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("x"),
                          QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok);
        EXPECT_NE(qtBox.button(QMessageBox::Yes)->text(), QStringLiteral("&Yes"));
        EXPECT_NE(qtBox.button(QMessageBox::No)->text(), QStringLiteral("&No"));
    }

    ModalAnswerer answerer({QStringLiteral("&No")});
    EXPECT_EQ(showMessage(QStringLiteral("Opravdu chceš smazat tento záznam?"), MessageKind::Confirmation,
                          MessageButtons::YesNo),
              MessageAnswer::No);
    showMessage(QStringLiteral("Nepodařilo se smazat záznam!"), MessageKind::Error, MessageButtons::Ok);
    showMessage(QStringLiteral("a"), MessageKind::Warning, MessageButtons::Ok);
    showMessage(QStringLiteral("b"), MessageKind::Information, MessageButtons::Ok);
    showApplicationError(QStringLiteral("Nelze otevřít"));
    showStartupError(Error(QStringLiteral("no such table: zeplo")));

    EXPECT_EQ(answerer.titles, (QStringList{"Confirm", "Error", "Warning", "Information", applicationTitle(),
                                            "Application Error"}));
    EXPECT_EQ(answerer.buttons, (QStringList{"&Yes|&No", "OK", "OK", "OK", "OK", "OK"}));
    EXPECT_EQ(answerer.texts.value(0), QStringLiteral("Opravdu chceš smazat tento záznam?"));
    EXPECT_EQ(answerer.texts.value(4), QStringLiteral("Nelze otevřít."));

    unloadQtTranslations();
    QLocale::setDefault(QLocale::c());
}
