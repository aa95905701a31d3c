#include "kellogger/kellogger.h"
#include "textrows.h"

#include <QTest>

namespace {

// Real compiler signatures, so the rows follow whatever the compiler actually writes.
struct Probe {
    static QString lambdaName()
    {
        const auto lambda = [](int) { return QString::fromUtf8(Q_FUNC_INFO); };
        return lambda(1);
    }
    template <typename T> static QString templateName(const T&) { return QString::fromUtf8(Q_FUNC_INFO); }
    static int (*pointerReturning(QString* name))(int)
    {
        *name = QString::fromUtf8(Q_FUNC_INFO);
        return nullptr;
    }
    QString operator()(int) const { return QString::fromUtf8(Q_FUNC_INFO); }
};

QString pointerReturningName()
{
    QString name;
    Probe::pointerReturning(&name);
    return name;
}

} // namespace

class TestFunctionName : public QObject {
    Q_OBJECT

private slots:
    void cleanFunctionName_data()
    {
        QTest::addColumn<QString>("signature");
        QTest::addColumn<QString>("expected");

        addTextRows({
            { "member", "void KelLogger::beginLogSession(const QString&)", "KelLogger::beginLogSession()" },
            { "lambda", "Class::method()::<lambda(int)>", "Class::method::lambda()" },
            { "lambda without parameters", "MetricSender::sendNext()::<lambda()>", "MetricSender::sendNext::lambda()" },
            { "lambda in lambda in template",
                "Foo::bar<std::__cxx11::basic_string<char> "
                ">(std::__cxx11::basic_string<char>)::<lambda(int)>::<lambda()>",
                "Foo::bar::lambda()" },
            { "lambda at namespace scope", "<lambda(int)>", "lambda()" },
            { "template", "void Foo::bar(T) [with T = QString]", "Foo::bar()" },
            { "class template", "T Tpl<T>::get() const [with T = int]", "Tpl<T>::get()" },
            { "spaces in template arguments", "QMap<QString, int> Foo<A, B>::m(QList<QPair<int, int> >)",
                "Foo<A, B>::m()" },
            { "call operator", "int Foo::operator()(int) const", "Foo::operator()()" },
            { "less operator", "bool Foo::operator<(const Foo&) const", "Foo::operator<()" },
            { "shift operator", "Foo& Foo::operator<<(int)", "Foo::operator<<()" },
            { "arrow operator", "Foo* Foo::operator->()", "Foo::operator->()" },
            { "conversion operator", "Foo::operator std::string() const", "Foo::operator std::string()" },
            { "free operator", "bool operator==(const A&, const B&)", "operator==()" },
            { "returns function pointer", "static int (* Foo::get())(int)", "Foo::get()" },
            { "returns member function pointer", "int (Foo::* Foo::pm())(int) const", "Foo::pm()" },
            { "returns array reference", "int (& Foo::arr())[3]", "Foo::arr()" },
            { "constructor", "Foo::Foo(int)", "Foo::Foo()" },
            { "destructor", "Foo::~Foo()", "Foo::~Foo()" },
            { "anonymous namespace", "void {anonymous}::helper(int)", "{anonymous}::helper()" },
            { "local class", "void main(int, char**)::Local::run()", "main::Local::run()" },
            { "abi tag", "std::string Foo::name[abi:cxx11]() const", "Foo::name()" },
            { "plain name stays", "Application::init", "Application::init" },
            { "scope tracer hidden", "TraceLogger::TraceLogger(const char*, const QString&)", nullptr },
            { "empty", nullptr, nullptr },
        });

        QTest::newRow("compiler: lambda") << Probe::lambdaName() << "{anonymous}::Probe::lambdaName::lambda()";
        QTest::newRow("compiler: template") << Probe::templateName(QString()) << "{anonymous}::Probe::templateName()";
        QTest::newRow("compiler: operator()") << Probe()(1) << "{anonymous}::Probe::operator()()";
        QTest::newRow("compiler: returns function pointer")
            << pointerReturningName() << "{anonymous}::Probe::pointerReturning()";
    }

    void cleanFunctionName()
    {
        QFETCH(QString, signature);
        QFETCH(QString, expected);
        QCOMPARE(KelLogger::cleanFunctionName(signature), expected);
    }
};

QTEST_APPLESS_MAIN(TestFunctionName)
#include "tst_functionname.moc"
