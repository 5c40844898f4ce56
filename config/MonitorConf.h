#pragma once

#include <QString>
#include <QStringList>

// How the station introduces itself to the plant's MQTT broker, read from the optional
// "../conf/monitor.txt" (key=value lines, # starts a comment line). The broker's address
// stays in conf.txt (MonitorIP, MonitorPort); this file holds what conf.txt has no room for:
//   name=line-3            the station's name in every topic (default: the host name)
//   user=gluebox           login at the broker (none when empty)
//   password=...
//   cafile=/etc/ssl/plant-ca.pem   TLS against that CA (plain TCP when empty)
//   queue=10000            messages kept while the broker is away (100..1000000)
struct MonitorConf
{
    static constexpr int kDefaultQueue = 10000;
    static constexpr int kMinQueue = 100;
    static constexpr int kMaxQueue = 1000000;

    QString name;
    QString user;
    QString password;
    QString caFile;
    int queue = kDefaultQueue;

    // The defaults, then the file on top (a missing file is not a fault). Each line that is
    // not understood, and a name unfit for a topic, is said in `problems` and left out.
    static MonitorConf read(const QString &path, QStringList *problems = nullptr);
    // A name may not carry MQTT's wildcards or level separator; empty is not a name either.
    static bool validName(const QString &name);
};
