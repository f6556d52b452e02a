// libFuzzer target: the first line of an order file, decoded and cut into its
// 29 "|"-separated fields. Every field must be what a plain split of the line
// gives, and none may reach outside the line.

#include <QStringList>
#include <cstddef>
#include <cstdint>

#include "worklist/bramwoods/OrderFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString line = DecodeOrderLine(bytes);
    const QStringList parts = line.split(QLatin1Char('|'));
    const OrderFields fields(line);
    for (int n = 1; n <= OrderFields::kCount; ++n)
        if (fields.FieldView(n) != parts.value(n - 1)) __builtin_trap();
    return 0;
}
