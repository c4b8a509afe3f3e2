#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

class QIODevice;

// Told of each temporary file as it appears and once it is gone (renamed into
// place or removed), so that a process stopped by a signal can remove what it
// was writing. Called from whichever thread writes; either may be empty.
struct TemporaryFileWatch
{
    std::function<void(const QString &path)> created;
    std::function<void(const QString &path)> released;
};

// "Could not write FILE: REASON", the message of every failed output.
QString outputWriteError(const QString &path, const QString &reason);

// "PATH is not a regular file" when `path` exists (links followed) as
// anything but a regular file: a device, a FIFO, a socket or a folder, which
// a rename would replace (or which would swallow the output). nullopt when
// it is a regular file or does not exist.
std::optional<QString> notRegularOutputReason(const QString &path);

// Whether `fileName` has the shape of our temporary names,
// "NAME.vdp-PID-XXXXXX.KIND" with KIND part, piece or old; `pid` receives the
// writer's process id. The "vdp-" keeps a user's "report.2024.backup.old" safe.
bool isTemporaryOutputName(const QString &fileName, qint64 *pid = nullptr);

// Removes the temporary files in `folder` left by writers that are gone (an
// export interrupted by kill -9 or a power cut). A file whose process still
// runs, or whose name is not ours, is never touched. The paths removed.
QStringList removeStaleTemporaryFiles(const QString &folder);

// One output written beside its target under a temporary name carrying this
// process's id, and renamed over the target only once every byte is flushed,
// synced and closed without error. Until then, and whenever anything fails,
// an earlier file at the target stays as it was; an uncommitted temporary
// file is removed when the object goes.
class OutputFile
{
public:
    enum class Kind {
        Part,  // a file to be renamed into place: "NAME.vdp-PID-XXXXXX.part"
        Piece, // an intermediate file that is only read back: ".piece"
    };

    explicit OutputFile(QString target, Kind kind = Kind::Part, const TemporaryFileWatch *watch = nullptr);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Creates the temporary file (permissions as for any new file: 0666 less
    // the umask). The target is refused when it exists and is not a regular
    // file. False with the message in error().
    bool open();

    // Writing through Qt: a buffered device on the open file. A failed write
    // returns -1 and records the system's reason here.
    QIODevice &device();
    // Writing through C stdio (qpdf's writer): a stream on the open file,
    // owned here and closed by close().
    FILE *stream();

    // Flushes, syncs (for a Part) and closes, checking each step. False with
    // the message in error(); the temporary file is then removed.
    bool close();
    // close(), then renames the temporary file over the target.
    bool commit();
    // close(), then moves the temporary file to the target only if nothing
    // is there yet: an existing file is never replaced ("TARGET: File exists").
    bool commitNew();
    // Removes the temporary file.
    void discard();
    // The closed temporary file was moved into place by the caller (a set of
    // files renamed together): nothing is left to remove.
    void forget();

    // Records a failure the caller saw while writing (the device's error
    // string, a writer's short write), so error() names the file and reason.
    void setWriteError(const QString &reason);

    const QString &target() const { return m_target; }
    const QString &temporaryPath() const { return m_temporary; }
    QString error() const { return m_error; }
    // The reason alone, without the file: the system's words, a writer's
    // message, or "PATH is not a regular file".
    QString reason() const { return m_reason; }

private:
    // The end of both commits: `renameResult` is the rename's return value.
    bool moveIntoPlace(int renameResult);
    class Device;

    bool fail(const QString &reason);
    bool kindIsPart() const;
    bool checkTarget();

    QString m_target;
    Kind m_kind;
    const TemporaryFileWatch *m_watch;
    QString m_temporary;
    int m_fd = -1;
    std::unique_ptr<Device> m_device;
    FILE *m_stream = nullptr;
    bool m_closed = false;
    QString m_error;
    QString m_reason;
};

// Renames `temporary` over `target` (one step, an earlier file replaced
// whole) and syncs the folder so the new name survives a power cut. False
// with `error` set ("Could not write TARGET: REASON").
bool renameIntoPlace(const QString &temporary, const QString &target, QString *error);

// Why copyToNewFile failed: the source could not be read (`reading`, with the
// system's words in `reason`), or the copy could not be written (`reason` as
// OutputFile::reason(), `message` as OutputFile::error()).
struct CopyFailure
{
    bool reading = false;
    QString reason;
    QString message;
};

// Copies `source` to `target` through a temporary file beside it, every write
// and the close checked, never replacing a file already at `target`: a copy
// cut short by a full disk never takes the name. nullopt on success.
std::optional<CopyFailure> copyToNewFile(const QString &source, const QString &target);
