#pragma once

#include <QDir>
#include <QFile>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>

// One source text of a translation file and its translation.
struct TsMessage {
    QString context;
    QString source;
    QString translation;
};

// Writes each file as a Qt Linguist source into folder (made when missing) and compiles them all there
// with one lrelease run. Keys are the .qm file names, e.g. "p_de.qm". Returns the error text, empty on
// success.
inline QString compileTranslations(const QString& folder, const QMap<QString, QList<TsMessage>>& files)
{
#ifndef PL_LRELEASE
    Q_UNUSED(folder)
    Q_UNUSED(files)
    return QStringLiteral("lrelease was not found at configure time");
#else
    if (!QDir().mkpath(folder))
        return QStringLiteral("no folder for the translations");
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
        // Beside its .qm file, which lrelease writes next to it.
        const QString ts = QDir(folder).filePath(QFileInfo(file.key()).completeBaseName() + QStringLiteral(".ts"));
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
    return QString();
#endif
}
