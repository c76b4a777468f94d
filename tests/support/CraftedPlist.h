#pragma once
// Hostile binary property lists, built byte by byte: a dictionary root
// {"KLDropdownItemsKey": ...} over arrays that nest or share their children.
#include <QByteArray>
#include <QList>
#include <algorithm>

namespace crafted {

inline QByteArray bigEndian(quint64 value, int size)
{
    QByteArray bytes(size, '\0');
    for (int i = size - 1; i >= 0; --i, value >>= 8)
        bytes[i] = static_cast<char>(value & 0xff);
    return bytes;
}

// Object 0 is the root; references are 4 bytes, as are offsets.
inline QByteArray binaryList(const QList<QByteArray>& objects)
{
    QByteArray out("bplist00");
    QByteArray table;
    for (const QByteArray& object : objects) {
        table += bigEndian(static_cast<quint64>(out.size()), 4);
        out += object;
    }
    const quint64 tableOffset = static_cast<quint64>(out.size());
    return out + table + QByteArray(6, '\0') + char(4) + char(4) + bigEndian(static_cast<quint64>(objects.size()), 8) +
           bigEndian(0, 8) + bigEndian(tableOffset, 8);
}

inline QByteArray array(const QList<quint64>& refs)
{
    QByteArray object(1, static_cast<char>(0xa0 | std::min<int>(refs.size(), 15)));
    if (refs.size() >= 15)
        object += char(0x12) + bigEndian(static_cast<quint64>(refs.size()), 4);
    for (quint64 ref : refs)
        object += bigEndian(ref, 4);
    return object;
}

inline QList<QByteArray> settingsRoot()
{
    const QByteArray key("KLDropdownItemsKey");
    return {char(0xd1) + bigEndian(1, 4) + bigEndian(2, 4), char(0x5f) + (char(0x10) + bigEndian(key.size(), 1)) + key};
}

// Arrays `levels` deep, each holding the next one twice: a few hundred bytes
// that a naive reader expands into 2^levels values.
inline QByteArray sharedChildren(int levels)
{
    QList<QByteArray> objects = settingsRoot();
    for (int i = 0; i < levels; ++i)
        objects.append(array({quint64(objects.size() + 1), quint64(objects.size() + 1)}));
    objects.append("\x51x");
    return binaryList(objects);
}

// `levels` nested arrays around one array of `count` references to one value.
inline QByteArray deepAndWide(int levels, int count)
{
    QList<QByteArray> objects = settingsRoot();
    for (int i = 0; i < levels; ++i)
        objects.append(array({quint64(objects.size() + 1)}));
    objects.append(array(QList<quint64>(count, quint64(objects.size() + 1))));
    objects.append("\x51x");
    return binaryList(objects);
}

// Arrays nested `levels` deep (at least one), one inside the other.
inline QByteArray nestedArrays(int levels)
{
    return deepAndWide(levels - 1, 1);
}

}  // namespace crafted
