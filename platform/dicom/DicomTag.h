#pragma once

#include <QtGlobal>

// An attribute's (group, element).
struct Tag {
    quint16 group;
    quint16 element;
};
