#include "app/GenreBox.h"

#include <QComboBox>

#include "app/TypingLimit.h"
#include "engine/Genres.h"

namespace zeplo {

void setUpGenreBox(QComboBox *box)
{
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(genres());
    box->setCurrentIndex(-1);
    box->setEditText(QString());
    limitTyping(box, 10);
}

} // namespace zeplo
