#pragma once

#include <QObject>
#include <QString>

// The first descendant of `parent` of type T (an action, a button) showing `text`, or null.
template <typename T>
T* findByText(const QObject* parent, const QString& text)
{
    const auto children = parent->findChildren<T*>();
    for (T* child : children) {
        if (child->text() == text)
            return child;
    }
    return nullptr;
}
