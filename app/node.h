// One device heard while scanning; travels from the library's thread to the dialog inside a QVariant.
#pragma once

#include <QMetaType>
#include <QString>

struct node {
    QString macAddr;
    QString devName;  // null when the advertisement carried no name
    signed char rssi = 0;
    int seenSecond = 0;  // second of the minute it was last heard, 0..59
};

Q_DECLARE_METATYPE(node)
