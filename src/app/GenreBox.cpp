#include "app/GenreBox.h"

#include <QComboBox>

#include "app/TypingLimit.h"
#include "engine/Genres.h"

namespace zeplo {

void setUpGenreBox(QComboBox *box)
{
    box->setEditable(true);
    // The text stays as typed: no completion from the list.
    box->setCompleter(nullptr);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(genres());
    box->setCurrentIndex(-1);
    box->setEditText(QString());
    limitTyping(box, 10);
}

} // namespace zeplo
