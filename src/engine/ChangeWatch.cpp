#include "engine/ChangeWatch.h"

#include <QStringList>

namespace zeplo {

OutsideChange OutsideChange::fromNotice(const QString &text)
{
    // Anything but a list of keys (the "many" of a large change, or a notice
    // another program sent on the channel) says that rows may have changed.
    OutsideChange news;
    for (const QString &item : text.split(QLatin1Char(','))) {
        bool ok = false;
        const qint64 key = item.trimmed().toLongLong(&ok);
        if (!ok) {
            news.keys.clear();
            news.many = true;
            return news;
        }
        news.keys.push_back(key);
    }
    return news;
}

void OutsideChange::add(const OutsideChange &other)
{
    many = many || other.many;
    if (many)
        keys.clear();
    else
        keys.insert(keys.end(), other.keys.begin(), other.keys.end());
}

} // namespace zeplo
