#pragma once
// Finding and driving a dialog's controls by their control ids (the
// dialogs name their controls after them).
#include <QAbstractButton>
#include <QLineEdit>
#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

namespace zorv::test {

template <class T = QLineEdit>
T* Control(QWidget& root, int id)
{
    T* w = root.findChild<T*>(QString::number(id));
    EXPECT_NE(w, nullptr) << id;
    return w;
}
inline void Type(QWidget& root, int id, const QString& text)
{
    Control(root, id)->setText(text);
}
inline QString Text(QWidget& root, int id)
{
    return Control(root, id)->text();
}
inline void Click(QWidget& root, int id)
{
    Control<QAbstractButton>(root, id)->click();
}

} // namespace zorv::test
