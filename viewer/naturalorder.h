#pragma once

#include <QString>
#include <QStringList>

namespace tavlin {

// Names in the order a person expects: case-blind, runs of digits by value
// (IMG2 before IMG10), accented letters with their base letters (Émile beside
// emma, not after z). Names that tie (IMG002 and img2) fall back to their
// code points, so the order is total and the same on every run.
//
// Plain ASCII names take a fast path whose order is the collator's own on
// ASCII; a list that holds any other name is sorted with the collator's keys
// for every name, so one list is always sorted by one consistent order.

// <0, 0 or >0.
int compareNatural(const QString& a, const QString& b);
void sortNatural(QStringList& names);

} // namespace tavlin
