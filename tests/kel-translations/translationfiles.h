#pragma once

#include <QDir>
#include <QFile>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// One source text of a translation file and its translation.
struct TsMessage {
    QString context;
    QString source;
    QString translation;
};

// Writes each file as a Qt Linguist source and compiles them all with one lrelease run into
// folder (made when missing). Keys are the .qm file names, e.g. "p_de.qm". Returns the error text,
// empty on success.
inline QString compileTranslations(const QString& folder, const QMap<QString, QList<TsMessage>>& files)
{
#ifndef PL_LRELEASE
    Q_UNUSED(folder)
    Q_UNUSED(files)
    return QStringLiteral("lrelease was not found at configure time");
#else
    QTemporaryDir sources;
    if (!sources.isValid() || !QDir().mkpath(folder))
        return QStringLiteral("no folders for the translation sources");
    QStringList tsFiles;
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        QString xml
            = QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE TS>\n<TS version=\"2.1\">\n");
        for (const TsMessage& message : file.value()) {
            xml += QStringLiteral("<context><name>%1</name><message><source>%2</source>"
                                  "<translation>%3</translation></message></context>\n")
                       .arg(message.context.toHtmlEscaped(), message.source.toHtmlEscaped(),
                           message.translation.toHtmlEscaped());
        }
        xml += QStringLiteral("</TS>\n");
        const QString ts = sources.filePath(QFileInfo(file.key()).completeBaseName() + QStringLiteral(".ts"));
        QFile out(ts);
        if (!out.open(QIODevice::WriteOnly) || out.write(xml.toUtf8()) < 0)
            return QStringLiteral("can't write ") + ts;
        tsFiles.append(ts);
    }
    QProcess lrelease;
    lrelease.setProcessChannelMode(QProcess::MergedChannels);
    lrelease.start(QStringLiteral(PL_LRELEASE), QStringList { QStringLiteral("-silent") } + tsFiles);
    if (!lrelease.waitForFinished(60000) || lrelease.exitCode() != 0)
        return QStringLiteral("lrelease failed: ") + QString::fromLocal8Bit(lrelease.readAll());
    for (auto file = files.cbegin(); file != files.cend(); ++file) {
        const QString qm = sources.filePath(QFileInfo(file.key()).completeBaseName() + QStringLiteral(".qm"));
        const QString target = QDir(folder).filePath(file.key());
        QFile::remove(target);
        if (!QFile::rename(qm, target))
            return QStringLiteral("lrelease made no ") + qm;
    }
    return QString();
#endif
}
