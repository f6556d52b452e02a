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
