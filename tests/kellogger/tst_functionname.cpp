#include "kellogger/kellogger.h"

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

        QTest::newRow("member") << "void KelLogger::beginLogSession(const QString&)"
                                << "KelLogger::beginLogSession()";
        QTest::newRow("lambda") << "Class::method()::<lambda(int)>"
                                << "Class::method::lambda()";
        QTest::newRow("lambda without parameters") << "MetricSender::sendNext()::<lambda()>"
                                                   << "MetricSender::sendNext::lambda()";
        QTest::newRow("lambda in lambda in template")
            << "Foo::bar<std::__cxx11::basic_string<char> "
               ">(std::__cxx11::basic_string<char>)::<lambda(int)>::<lambda()>"
            << "Foo::bar::lambda()";
        QTest::newRow("lambda at namespace scope") << "<lambda(int)>"
                                                   << "lambda()";
        QTest::newRow("template") << "void Foo::bar(T) [with T = QString]"
                                  << "Foo::bar()";
        QTest::newRow("class template") << "T Tpl<T>::get() const [with T = int]"
                                        << "Tpl<T>::get()";
        QTest::newRow("spaces in template arguments") << "QMap<QString, int> Foo<A, B>::m(QList<QPair<int, int> >)"
                                                      << "Foo<A, B>::m()";
        QTest::newRow("call operator") << "int Foo::operator()(int) const"
                                       << "Foo::operator()()";
        QTest::newRow("less operator") << "bool Foo::operator<(const Foo&) const"
                                       << "Foo::operator<()";
        QTest::newRow("shift operator") << "Foo& Foo::operator<<(int)"
                                        << "Foo::operator<<()";
        QTest::newRow("arrow operator") << "Foo* Foo::operator->()"
                                        << "Foo::operator->()";
        QTest::newRow("conversion operator") << "Foo::operator std::string() const"
                                             << "Foo::operator std::string()";
        QTest::newRow("free operator") << "bool operator==(const A&, const B&)"
                                       << "operator==()";
        QTest::newRow("returns function pointer") << "static int (* Foo::get())(int)"
                                                  << "Foo::get()";
        QTest::newRow("returns member function pointer") << "int (Foo::* Foo::pm())(int) const"
                                                         << "Foo::pm()";
        QTest::newRow("returns array reference") << "int (& Foo::arr())[3]"
                                                 << "Foo::arr()";
        QTest::newRow("constructor") << "Foo::Foo(int)"
                                     << "Foo::Foo()";
        QTest::newRow("destructor") << "Foo::~Foo()"
                                    << "Foo::~Foo()";
        QTest::newRow("anonymous namespace") << "void {anonymous}::helper(int)"
                                             << "{anonymous}::helper()";
        QTest::newRow("local class") << "void main(int, char**)::Local::run()"
                                     << "main::Local::run()";
        QTest::newRow("abi tag") << "std::string Foo::name[abi:cxx11]() const"
                                 << "Foo::name()";
        QTest::newRow("plain name stays") << "Application::init"
                                          << "Application::init";
        QTest::newRow("scope tracer hidden") << "TraceLogger::TraceLogger(const char*, const QString&)" << QString();
        QTest::newRow("empty") << QString() << QString();

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
