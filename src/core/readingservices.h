#pragma once

#include <QPointer>

class BookModel;
class DataExchangeSvc;

// The application-level objects the reading core works with. The core cannot include the
// application, so the application hands them over at start-up; tests set real or temporary
// ones. Unset, a book opens without page numbers (no page-counting client) and nothing is
// written to the library (no book model).
class ReadingServices {
public:
    static DataExchangeSvc* dataExchangeSvc();
    static void setDataExchangeSvc(DataExchangeSvc* svc);

    static BookModel* bookModel();
    static void setBookModel(BookModel* model);

private:
    static QPointer<DataExchangeSvc> s_dataExchangeSvc;
    static QPointer<BookModel> s_bookModel;
};
