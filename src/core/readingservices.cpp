#include "readingservices.h"

#include "dataexchangesvc.h"
#include "models/bookmodel.h"

#include <QTextToSpeech>

QPointer<DataExchangeSvc> ReadingServices::s_dataExchangeSvc;
QPointer<BookModel> ReadingServices::s_bookModel;
QPointer<QTextToSpeech> ReadingServices::s_textToSpeech;
ReadingServices::SpeechLimits ReadingServices::s_speechLimits;

DataExchangeSvc* ReadingServices::dataExchangeSvc() { return s_dataExchangeSvc.data(); }

void ReadingServices::setDataExchangeSvc(DataExchangeSvc* svc) { s_dataExchangeSvc = svc; }

BookModel* ReadingServices::bookModel() { return s_bookModel.data(); }

void ReadingServices::setBookModel(BookModel* model) { s_bookModel = model; }

QTextToSpeech* ReadingServices::textToSpeech() { return s_textToSpeech.data(); }

void ReadingServices::setTextToSpeech(QTextToSpeech* speech) { s_textToSpeech = speech; }

ReadingServices::SpeechLimits ReadingServices::speechLimits() { return s_speechLimits; }

void ReadingServices::setSpeechLimits(const SpeechLimits& limits) { s_speechLimits = limits; }
