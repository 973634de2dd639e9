#include "app/CEngineText.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include <vector>

namespace {

// The patterns the scan engine and the scan worker make texts from.
const char* const kPatterns[] = {
    QT_TRANSLATE_NOOP("CEngineText", "总扇区:%u"),
    QT_TRANSLATE_NOOP("CEngineText", "已扫描:%u个扇区"),
    QT_TRANSLATE_NOOP("CEngineText", "找到%u个文件"),
    QT_TRANSLATE_NOOP("CEngineText", "搜索完成,文件恢复中..."),
    QT_TRANSLATE_NOOP("CEngineText", "成功恢复%u个文件"),
    QT_TRANSLATE_NOOP("CEngineText", "用时%d秒,成功恢复%u个文件"),
    QT_TRANSLATE_NOOP("CEngineText", ",其中%u个因同名文件已存在而另存新名"),
    QT_TRANSLATE_NOOP("CEngineText", ",%u个已存在相同文件,未重复写入"),
    QT_TRANSLATE_NOOP("CEngineText", "扫描未完成:已扫描%llu个扇区,共%llu个扇区(%.2f%%)"),
    QT_TRANSLATE_NOOP("CEngineText", "扫描完成"),
    QT_TRANSLATE_NOOP("CEngineText", "扫描终止"),
    QT_TRANSLATE_NOOP("CEngineText", "正在初始化,请等待......"),
    QT_TRANSLATE_NOOP("CEngineText", "正在搜索%s盘文件"),
};

// printf conversions the patterns use, and %% for a percent sign.
const QRegularExpression& conversion() {
    static const QRegularExpression re(QStringLiteral("%(%|llu|u|d|s|\\.2f)"));
    return re;
}

struct tagPattern {
    const char* source;
    QRegularExpression match;
};

// A pattern as an expression with one capture per conversion.
QRegularExpression matcherFor(const QString& pattern) {
    QString expression;
    qsizetype at = 0;
    auto it = conversion().globalMatch(pattern);
    while (it.hasNext()) {
        const auto m = it.next();
        expression += QRegularExpression::escape(pattern.mid(at, m.capturedStart() - at));
        const QString kind = m.captured(1);
        if (kind == QLatin1String("%"))
            expression += QStringLiteral("%");
        else if (kind == QLatin1String("s"))
            expression += QStringLiteral("(.*)");
        else if (kind == QLatin1String(".2f"))
            expression += QStringLiteral("(-?[0-9]+\\.[0-9]{2})");
        else
            expression += QStringLiteral("(-?[0-9]+)");
        at = m.capturedEnd();
    }
    expression += QRegularExpression::escape(pattern.mid(at));
    return QRegularExpression(expression);
}

const std::vector<tagPattern>& patterns() {
    static const std::vector<tagPattern> table = [] {
        std::vector<tagPattern> built;
        for (const char* source : kPatterns)
            built.push_back({source, matcherFor(QString::fromUtf8(source))});
        return built;
    }();
    return table;
}

// The translated pattern with the captured values put in, in order.
QString fill(const QString& pattern, const QStringList& values) {
    QString out;
    qsizetype at = 0;
    int next = 0;
    auto it = conversion().globalMatch(pattern);
    while (it.hasNext()) {
        const auto m = it.next();
        out += pattern.mid(at, m.capturedStart() - at);
        if (m.captured(1) == QLatin1String("%"))
            out += QLatin1Char('%');
        else if (next < values.size())
            out += values[next++];
        at = m.capturedEnd();
    }
    return out + pattern.mid(at);
}

// A line is a run of pieces, each made from one pattern (the summary adds
// pieces to its first); each piece is translated on its own. Where no
// pattern matches, the rest of the line is shown as it is.
QString translateLine(const QString& line) {
    QString out;
    qsizetype at = 0;
    while (at < line.size()) {
        const tagPattern* best = nullptr;
        QRegularExpressionMatch bestMatch;
        for (const tagPattern& pattern : patterns()) {
            const auto m = pattern.match.match(line, at, QRegularExpression::NormalMatch,
                                               QRegularExpression::AnchorAtOffsetMatchOption);
            if (m.hasMatch() && (!best || m.capturedLength() > bestMatch.capturedLength())) {
                best = &pattern;
                bestMatch = m;
            }
        }
        if (!best || bestMatch.capturedLength() == 0)
            return out + line.mid(at);
        const QString translated = QCoreApplication::translate("CEngineText", best->source);
        QStringList values = bestMatch.capturedTexts();
        values.removeFirst();
        out += translated == QString::fromUtf8(best->source) ? bestMatch.captured(0)
                                                             : fill(translated, values);
        at = bestMatch.capturedEnd();
    }
    return out;
}

} // namespace

QString CEngineText::translate(const std::string& text) {
    // The summary may have several lines, each made from its own pattern.
    const QStringList lines = QString::fromStdString(text).split(QLatin1Char('\n'));
    QStringList out;
    for (const QString& line : lines)
        out << translateLine(line);
    return out.join(QLatin1Char('\n'));
}
