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
// Making room (after an image could not be written for lack of space) keeps SAVE_DAYS
// days, then, while less than a tenth is free, deletes whole-frame images (ALL/) day by
// day, oldest first and today's too, and after them the NG images (ng/, ng_result/) of
// the days before today, oldest first. Today's NG images are never deleted.
class CleanWorkThread : public QObject
{
    Q_OBJECT
public:
    static constexpr int kKeepSaveDays = 1; // automatic cleanup
    static constexpr int kKeepToday = 2;    // manual cleanup
    static constexpr int kMakeRoom = 3;     // the disk ran full while saving

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
    // What a run that had to make room deleted, and how much is free now; for the log.
    void spaceReport(QString text);
    void workStart();
    void workStartAuto();
    void workStartRoom();

public slots:
    void startWork();
    void startWorkAuto();
    void startWorkRoom();
    // Runs on the cleanup thread: the cleanup of the current mode, then workFinished.
    void doWork();
    void setSelAuto();
    void setSel();
    void setSelRoom();

private:
    enum class Room { Enough, Short, Unknown };

    bool cancelled() const { return m_cancel && m_cancel->load(); }
    int keepDays() const;
    // Short while less than a tenth is free; Unknown (said once on standard output) when
    // the volume's size can't be read.
    Room measureRoom(VolumeSpace *space = nullptr) const;
    void cleanAutomatic(const QDate &today);
    void makeRoom(const QDate &today);

    int m_mode = 0; // kKeepSaveDays, kKeepToday, kMakeRoom; anything else cleans as automatic
    QString m_imageRoot;
    Clock m_clock;
    FreeSpaceProbe m_probe;
    std::optional<int> m_saveDays;
    std::shared_ptr<const std::atomic<bool>> m_cancel;
};
