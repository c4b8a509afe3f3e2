#include "render/sheettasks.h"

#include "render/outputfileset.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

bool runSheetTasks(const PdfExportJob &job, QList<SheetTask> &tasks, OutputFileSet &files, int jobs, int pagesInAll,
                   const PdfExportProgress &progress, QString *error)
{
    std::atomic<int> pagesDone{0};
    std::atomic<bool> failed{false};
    std::atomic<qsizetype> next{0};
    const auto work = [&](const PdfExportProgress &report) {
        for (qsizetype i = next++; i < tasks.size() && !failed; i = next++) {
            SheetTask &task = tasks[i];
            task.output = files.create(task.target, task.piece ? OutputFile::Kind::Piece : OutputFile::Kind::Part,
                                       &task.run.error);
            if (!task.output) {
                failed = true;
                return;
            }
            task.run = writeSheets(job, task.sheets, *task.output, task.pagesBefore, pagesInAll, task.blanks,
                                   [&](int, int) {
                                       const int done = ++pagesDone;
                                       if (report)
                                           report(done, pagesInAll);
                                   });
            // A piece is read back by the join, so its close is checked now.
            if (task.run.error.isEmpty() && task.piece && !task.output->close())
                task.run.error = task.output->error();
            if (!task.run.error.isEmpty())
                failed = true;
        }
    };

    const int threads = std::clamp<int>(jobs, 1, int(std::max<qsizetype>(tasks.size(), 1)));
    if (threads == 1) {
        work(progress);
    } else {
        std::atomic<int> finished{0};
        std::vector<std::thread> workers;
        workers.reserve(threads);
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&] {
                work({});
                ++finished;
            });
        }
        // Every page count is reported, in order, as one thread would: a
        // caller printing a line per tenth of the job sees each tenth.
        int reported = 0;
        const auto catchUp = [&] {
            for (const int done = pagesDone; progress && reported < done;)
                progress(++reported, pagesInAll);
        };
        while (finished < threads) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            catchUp();
        }
        for (std::thread &worker : workers)
            worker.join();
        catchUp();
    }
    for (const SheetTask &task : std::as_const(tasks)) {
        if (!task.run.error.isEmpty()) {
            *error = task.run.error;
            return false;
        }
    }
    return true;
}
