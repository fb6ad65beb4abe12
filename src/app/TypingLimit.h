#pragma once

class QComboBox;

namespace zeplo {

// Limits what the user types into an editable combo box to `length`
// characters, while an entry chosen from its list still comes in whole.
void limitTyping(QComboBox *combo, int length);

} // namespace zeplo
