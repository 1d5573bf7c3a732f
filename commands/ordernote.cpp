#include "ordernote.h"

#include "order/collation.h"
#include "order/linesortsafter.h"

namespace varnel {

QString codeOrderNote(const QString& upper, const QString& lower) {
    if (!lineSortsAfter(upper, lower) || compareInCorrectOrder(upper, lower) > 0)
        return {};
    // The check orders the pair by its first lower-cased unit that differs; a line that is
    // the other's beginning comes first there, and in the collation as well.
    const qsizetype common = std::min(upper.size(), lower.size());
    qsizetype i = 0;
    while (i < common &&
           loweredCharacter(upper.at(i).unicode()) == loweredCharacter(lower.at(i).unicode()))
        ++i;
    if (i == common)
        return {};
    const QChar mine(char16_t(loweredCharacter(upper.at(i).unicode())));
    const QChar theirs(char16_t(loweredCharacter(lower.at(i).unicode())));
    const QString base = QString(mine).normalized(QString::NormalizationForm_D).left(1);
    const QString place = base != QString(mine) ? QStringLiteral("puts it with %1").arg(base)
                                                : QStringLiteral("puts it before %1").arg(theirs);
    return QStringLiteral("%1 sorts after %2 by code; Show Correct Order %3")
        .arg(mine, theirs, place);
}

} // namespace varnel
