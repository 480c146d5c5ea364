// Readable Qt values in GoogleTest's failure messages.
#pragma once

#include <ostream>

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& S, std::ostream* Out) {
  *Out << '"' << S.toStdString() << '"';
}
inline void PrintTo(const QStringList& L, std::ostream* Out) {
  *Out << "{";
  for (qsizetype i = 0; i < L.size(); ++i) {
    *Out << (i ? ", " : " ");
    PrintTo(L[i], Out);
  }
  *Out << " }";
}
inline void PrintTo(const QRect& R, std::ostream* Out) {
  *Out << "(" << R.x() << ", " << R.y() << ", " << R.width() << " x " << R.height() << ")";
}
inline void PrintTo(const QSize& S, std::ostream* Out) {
  *Out << S.width() << " x " << S.height();
}
QT_END_NAMESPACE
