#pragma once

#include <QDate>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// Deletes, below folder, every day folder (a name of the form 0000-00-00) whose date lies
// keepDays or more days before today, and every file that is not inside a kept day
// folder; other folders are searched, never deleted. Entries that are read-only, not
// readable or symbolic links are left alone (a link is never followed out of the store).
// Anything that can't be deleted is skipped. A set cancel flag ends the walk between two
// entries.
void removeOldDateFolders(const QString &folder, int keepDays,
                          const QDate &today = QDate::currentDate(),
                          const std::atomic<bool> *cancel = nullptr);

// One cleanup of the image store, moved to a thread of its own for each run (see
// CleanupRunner). Manual mode keeps only today; automatic mode keeps SAVE_DAYS days and,
// while less than a tenth of the volume is free, fewer days, down to today and yesterday.
class CleanWorkThread : public QObject
{
    Q_OBJECT
public:
    static constexpr int kKeepSaveDays = 1; // automatic cleanup
    static constexpr int kKeepToday = 2;    // manual cleanup

    struct VolumeSpace
    {
        qint64 totalBytes = 0; // 0: the size could not be read
        qint64 freeBytes = 0;
    };
    // Size and free bytes of the volume holding the given image store.
    using FreeSpaceProbe = std::function<VolumeSpace(const QString &imageRoot)>;
    using Clock = std::function<QDate()>; // today's local date

    explicit CleanWorkThread(QObject *parent = nullptr);

    // Defaults: the station's image root, the local date, the volume of the image root.
    void setImageRoot(const QString &root);
    void setClock(Clock clock);
    void setFreeSpaceProbe(FreeSpaceProbe probe);
    // Days kept by the automatic mode; unset, doWork reads SAVE_DAYS from the settings.
    void setSaveDays(int days);
    void setCancelFlag(std::shared_ptr<const std::atomic<bool>> cancel);

    int mode() const { return m_mode; }

    // The default probe: QStorageInfo of the image root, or of its nearest existing
    // parent while the store doesn't exist yet.
    static VolumeSpace volumeSpace(const QString &imageRoot);
    // Less than a tenth free; a volume of unknown size never counts as full.
    static bool diskFull(const VolumeSpace &space);

signals:
    void workFinished();
    void workStart();
    void workStartAuto();

public slots:
    void startWork();
    void startWorkAuto();
    // Runs on the cleanup thread: the cleanup of the current mode, then workFinished.
    void doWork();
    void setSelAuto();
    void setSel();

private:
    bool cancelled() const { return m_cancel && m_cancel->load(); }
    void cleanAutomatic(const QDate &today);

    int m_mode = 0; // kKeepSaveDays or kKeepToday; anything else cleans as automatic
    QString m_imageRoot;
    Clock m_clock;
    FreeSpaceProbe m_probe;
    std::optional<int> m_saveDays;
    std::shared_ptr<const std::atomic<bool>> m_cancel;
};
