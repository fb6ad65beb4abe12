#pragma once

class QLocale;

namespace zeplo {

// Installs Qt's own translations (qtbase_<language>.qm) for the language of
// `locale`, so that the dialogs Qt draws itself (file, print and page set-up
// dialogs, an edit box's menu) speak the user's language. The program's own
// texts are set as they are and never translated. Without translations for
// the language, or in English, Qt stays English. Returns whether any was loaded.
bool loadQtTranslations(const QLocale &locale);

// Takes them out again.
void unloadQtTranslations();

} // namespace zeplo
