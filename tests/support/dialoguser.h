#pragma once

#include <QAbstractButton>
#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTest>

// A user at a dialog: buttons by mouse, boxes by keyboard, long texts pasted.
namespace DialogUser {

inline void click(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

// Selects everything in the box and deletes it.
inline void empty(QLineEdit *box)
{
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
}

// ASCII goes key by key; Japanese comes as an input method hands it over, a word at a time.
inline void typeKeys(QLineEdit *box, const QString &text)
{
    qsizetype at = 0;
    while (at < text.size()) {
        const bool ascii = text.at(at).unicode() < 0x80;
        qsizetype end = at;
        while (end < text.size() && (text.at(end).unicode() < 0x80) == ascii)
            ++end;
        if (ascii) {
            QTest::keyClicks(box, text.mid(at, end - at));
        } else {
            QInputMethodEvent composed;
            composed.setCommitString(text.mid(at, end - at));
            QCoreApplication::sendEvent(box, &composed);
        }
        at = end;
    }
}

// Types piece at the end of the box; each doubling then copies the box's whole text and
// pastes it after itself, the way a user makes a long text without typing all of it.
inline void type(QLineEdit *box, const QString &piece, int doublings = 0)
{
    QTest::keyClick(box, Qt::Key_End);
    typeKeys(box, piece);
    for (int i = 0; i < doublings; ++i) {
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_End);
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    }
}

} // namespace DialogUser
