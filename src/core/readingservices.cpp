#include "readingservices.h"

#include "dataexchangesvc.h"
#include "models/bookmodel.h"
#include "speechengine.h"

#include <QMutex>
#include <QtDebug>

namespace {
// The state file is also written on a pool thread.
QMutex noticeMutex;

QString noticeKey(ReadingServices::StorageNotice notice, const QString& path)
{
    return QString::number(notice) + QLatin1Char(':') + path;
}
}

QPointer<DataExchangeSvc> ReadingServices::s_dataExchangeSvc;
QPointer<BookModel> ReadingServices::s_bookModel;
QPointer<SpeechEngine> ReadingServices::s_textToSpeech;
ReadingServices::SpeechLimits ReadingServices::s_speechLimits;
ReadingServices::StorageNoticeHandler ReadingServices::s_storageNoticeHandler;
QHash<QString, QSet<int>> ReadingServices::s_notified;

DataExchangeSvc* ReadingServices::dataExchangeSvc() { return s_dataExchangeSvc.data(); }

void ReadingServices::setDataExchangeSvc(DataExchangeSvc* svc) { s_dataExchangeSvc = svc; }

BookModel* ReadingServices::bookModel() { return s_bookModel.data(); }

void ReadingServices::setBookModel(BookModel* model) { s_bookModel = model; }

SpeechEngine* ReadingServices::textToSpeech() { return s_textToSpeech.data(); }

void ReadingServices::setTextToSpeech(SpeechEngine* speech) { s_textToSpeech = speech; }

ReadingServices::SpeechLimits ReadingServices::speechLimits() { return s_speechLimits; }

void ReadingServices::setSpeechLimits(const SpeechLimits& limits) { s_speechLimits = limits; }
void ReadingServices::setStorageNoticeHandler(StorageNoticeHandler handler)
{
    s_storageNoticeHandler = std::move(handler);
    s_notified.clear();
}

void ReadingServices::notifyStorage(StorageNotice notice, const QString& path, checkedsave::Failure failure)
{
    QMutexLocker lock(&noticeMutex);
    QSet<int>& told = s_notified[noticeKey(notice, path)];
    if (told.contains(int(failure)))
        return;
    told.insert(int(failure));
    qWarning() << "Storage notice" << notice << "for" << path << checkedsave::failureText(failure, path);
    if (s_storageNoticeHandler)
        s_storageNoticeHandler(notice, path, failure);
}

void ReadingServices::storageSaved(StorageNotice notice, const QString& path)
{
    QMutexLocker lock(&noticeMutex);
    s_notified.remove(noticeKey(notice, path));
}
