#include "app/keys/key_value.h"

#include <limits>
#include <stdexcept>

namespace tq {

std::optional<std::int32_t> parseKeyValue(const QString& text)
{
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

std::int32_t keyValue(const QString& text, const QString& where)
{
    const std::optional<std::int32_t> value = parseKeyValue(text);
    if (!value) {
        throw std::runtime_error(QStringLiteral("\"%1\" is not a valid key value (%2).").arg(text, where).toStdString());
    }
    return *value;
}

} // namespace tq
