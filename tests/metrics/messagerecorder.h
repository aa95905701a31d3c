#pragma once

#include <QStringList>
#include <QtGlobal>

// The message handler that the metrics handler is chained in front of in these tests: it
// records what reaches it, and hands it on to the log when asked to.
namespace messagerecorder {

// Installs the recorder, then the metrics handler in front of it.
void installChain();
void clear();
QStringList messages();
bool contains(const QString& prefix);
// When on, recorded messages also go to the log's handler.
void setForwardToLog(bool on);

}
