#pragma once

class QComboBox;

namespace zeplo {

// An editable genre box: the genre list, empty, at most 10 typed characters.
void setUpGenreBox(QComboBox *box);

} // namespace zeplo
