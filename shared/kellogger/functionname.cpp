#include "kellogger.h"

#include <QRegularExpression>

// Qt's message context carries the compiler's full signature (GCC's __PRETTY_FUNCTION__), for
// instance "static int (* Foo::get())(int)", "void Foo::bar(T) [with T = QString]" or
// "Foo::run()::<lambda(int)>". The log shows the qualified name only.

namespace {

bool isIdentifierChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); }

// Index of the '(' that matches the ')' at close, or -1.
int matchingOpenParen(const QString& s, int close)
{
    int depth = 0;
    for (int i = close; i >= 0; --i) {
        if (s[i] == QLatin1Char(')'))
            ++depth;
        else if (s[i] == QLatin1Char('(') && --depth == 0)
            return i;
    }
    return -1;
}

// Index of the last "operator" keyword in s, or -1.
int operatorKeyword(const QString& s)
{
    static const QString keyword = QStringLiteral("operator");
    for (int i = s.lastIndexOf(keyword); i >= 0; i = i > 0 ? s.lastIndexOf(keyword, i - 1) : -1) {
        const int after = i + keyword.size();
        if ((i == 0 || !isIdentifierChar(s[i - 1])) && (after == s.size() || !isIdentifierChar(s[after])))
            return i;
    }
    return -1;
}

// Drops every parenthesised group, so "main(int, char**)::Local::run" becomes "main::Local::run".
QString withoutParenGroups(const QString& s)
{
    QString result;
    int depth = 0;
    for (const QChar c : s) {
        if (c == QLatin1Char('('))
            ++depth;
        else if (c == QLatin1Char(')'))
            depth = qMax(0, depth - 1);
        else if (depth == 0)
            result += c;
    }
    return result;
}

// head is "<return type> <qualified name>" (either part may be missing); returns the name.
// The scan runs backwards and balances brackets, so spaces inside template arguments
// ("QMap<int, QString>::value") do not end it; an operator's own symbol is never scanned.
QString qualifiedName(const QString& head)
{
    const int op = operatorKeyword(head);
    const int end = op >= 0 ? op : head.size();
    int angles = 0;
    int parens = 0;
    int start = 0;
    for (int i = end - 1; i >= 0; --i) {
        const QChar c = head[i];
        if (c == QLatin1Char('>'))
            ++angles;
        else if (c == QLatin1Char('<'))
            angles = qMax(0, angles - 1);
        else if (c == QLatin1Char(')'))
            ++parens;
        else if (c == QLatin1Char('('))
            parens = qMax(0, parens - 1);
        else if (angles == 0 && parens == 0
            && (c == QLatin1Char(' ') || c == QLatin1Char('*') || c == QLatin1Char('&'))) {
            start = i + 1;
            break;
        }
    }
    QString qualifier = head.mid(start, end - start);
    if (op < 0 && qualifier.endsWith(QLatin1Char('>'))) {
        // Template arguments of a function template ("bar<QString>").
        int depth = 0;
        for (int i = qualifier.size() - 1; i >= 0; --i) {
            if (qualifier[i] == QLatin1Char('>'))
                ++depth;
            else if (qualifier[i] == QLatin1Char('<') && --depth == 0) {
                qualifier.truncate(i);
                break;
            }
        }
    }
    return withoutParenGroups(qualifier) + (op >= 0 ? head.mid(op).trimmed() : QString());
}

bool isDeclaratorGroup(const QString& content)
{
    // "(* Foo::get())", "(& Foo::items())", "(Foo::* Foo::member())": the name of a function that
    // returns a pointer or reference to a function or an array sits inside these parentheses.
    static const QRegularExpression memberPointer(QStringLiteral("^[^()]*::\\*"));
    return content.startsWith(QLatin1Char('*')) || content.startsWith(QLatin1Char('&'))
        || memberPointer.match(content).hasMatch();
}

QString stripSignature(QString s)
{
    // Qualifiers after the parameter list, and the array bounds of a returned array reference.
    static const QRegularExpression trailing(
        QStringLiteral("\\)(\\s*(const|volatile|noexcept|&&|&|\\[[^\\]]*\\]))+\\s*$"));
    s = s.trimmed().replace(trailing, QStringLiteral(")"));
    if (!s.endsWith(QLatin1Char(')')))
        return qualifiedName(s);

    const int close = s.size() - 1;
    const int open = matchingOpenParen(s, close);
    if (open < 0)
        return s;
    const QString content = s.mid(open + 1, close - open - 1).trimmed();
    if (isDeclaratorGroup(content))
        return stripSignature(content);
    const QString head = s.left(open).trimmed();
    // "int (* Foo::get())(int)": the last list belongs to the returned function type.
    if (head.endsWith(QLatin1Char(')')) && !head.endsWith(QLatin1String("operator()"))
        && !head.endsWith(QLatin1String("operator ()")))
        return stripSignature(head);
    return qualifiedName(head) + QLatin1String("()");
}

} // namespace

QString KelLogger::cleanFunctionName(const QString& function)
{
    static const QRegularExpression abiTag(QStringLiteral("\\[abi:[^\\]]*\\]"));
    QString s = function;
    const int with = s.indexOf(QLatin1String(" [with "));
    if (with >= 0)
        s.truncate(with);
    s.remove(abiTag);

    QString result;
    const int lambda = s.indexOf(QLatin1String("<lambda"));
    if (lambda >= 0) {
        // "Foo::run()::<lambda(int)>" becomes "Foo::run::lambda()".
        QString outer = s.left(lambda).trimmed();
        if (outer.endsWith(QLatin1String("::")))
            outer.chop(2);
        QString name = outer.isEmpty() ? QString() : stripSignature(outer);
        if (name.endsWith(QLatin1String("()")))
            name.chop(2);
        result = name.isEmpty() ? QStringLiteral("lambda()") : name + QLatin1String("::lambda()");
    } else {
        result = stripSignature(s);
    }
    // The scope tracer logs in the name of its caller; its own frames never show.
    if (result.contains(QLatin1String("TraceLogger")))
        return QString();
    return result;
}
