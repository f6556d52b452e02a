#pragma once

#include <QString>

class UidGenerator {
public:
    virtual ~UidGenerator() = default;
    virtual QString NewUid() = 0;
};

// "2.25." followed by a random 128-bit UUID in decimal: unique without a
// registered root.
class UuidUidGenerator : public UidGenerator {
public:
    QString NewUid() override;
};

// "2.25." followed by the name-based UUID (SHA-1) of the text in decimal: the
// same text always gives the same UID, different texts practically never do.
QString UidFromName(const QString& name);
