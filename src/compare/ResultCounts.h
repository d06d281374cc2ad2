#pragma once
// What the result grid holds, counted: the rows a synchronisation would carry
// out (per status), the bytes it would copy, the flags the user cleared, and
// what a synchronisation did. Plus the short Japanese texts the window shows
// for them (status bar, wait dialog). Pure functions over a ResultTable.
#include "compare/ResultTable.h"

#include <QString>

namespace velmor {

// The files and bytes that rows stand for: a file row is one file (and the
// bytes it copies), a folder row what its item holds as far as it was
// counted (ResultRow::contentFiles), and a row that copies or deletes no
// file's content none. Not known when some row's content was not counted.
struct RowFiles {
    long long files = 0;
    long long bytes = 0;   // bytes copied
    bool known = false;

    void add(const RowFiles& one);
};

// What row stands for (moved: carried out, or to be, as a rename, which
// copies no bytes and takes no folder's content along by copy or deletion).
RowFiles FilesOf(const ResultRow& row, bool moved);

struct ResultCounts {
    // Rows with flag "1", by the status they act as (a flag the user set on
    // "除外" or "保護" acts as "上書").
    int add = 0;      // 追加
    int over = 0;     // 上書
    int del = 0;      // 削除
    int kara = 0;     // 空
    int karaAdd = 0;  // 空追
    int other = 0;    // any other status
    // Folder-1 sizes of the file rows with flag "1" that copy (追加, 上書).
    long long copyBytes = 0;
    // Flag "0" on a status whose own flag is "1": cleared by the user.
    int cleared = 0;
    // After a synchronisation.
    int done = 0;       // flag "2"
    int failed = 0;     // result shown red
    int waiting = 0;    // flag "1" and not red: not reached (a stop) or ticked since
    int leftAlone = 0;  // flag "0"
    // The files of the rows counted above (not known in a ResultCounts
    // that CountResults did not make).
    RowFiles addFiles, overFiles, delFiles, doneFiles, waitingFiles;

    int acting() const { return add + over + del + kara + karaAdd + other; }
};

// Bytes the row copies when it is carried out: its folder-1 size when it is
// a file row whose status copies ("追加", "上書", or "除外"/"保護" acting as
// "上書"); 0 otherwise. The flag is not looked at.
long long CopyBytes(const ResultRow& row);

ResultCounts CountResults(const ResultTable& table);

// Status-bar text after a comparison (or after the user changed flags):
// e.g. "追加 120　上書 8　削除 3 (9 ﾌｧｲﾙ)　ｺﾋﾟｰ 12.4 MB　解除 2". A count of
// rows is followed by the files (and bytes copied) they stand for where
// those are known and another number.
QString CompareStatusText(const ResultCounts& c);
// Status-bar text after a synchronisation that took elapsedMs: e.g.
// "完了 80 (20,000 ﾌｧｲﾙ 381.5 MB)　失敗 1　対象外 2　12.0 秒" (files as
// above). stoppedAfter >= 0: the stop button ended it after that many rows,
// which the text leads with.
QString SyncStatusText(const ResultCounts& c, qint64 elapsedMs, int stoppedAfter = -1);
// Says how many files lie right in folder 1's and folder 2's roots, which
// take no part in a comparison ("" when there are none).
QString RootFilesText(long long inRoot1, long long inRoot2);

// The wait dialog's line under its message during a synchronisation:
// e.g. "1,234 / 5,000　12.3 MB / 40.0 MB" (bytes left out when none are copied).
QString ProgressText(int done, int total, long long bytesDone, long long bytesTotal);

// How fast a run goes and how long it has left, elapsedMs after its start
// with done of total units (bytes, or rows where no byte is to be copied):
// "12.3 MB/秒　残り 約 1 分 20 秒". "" until the rate is steady (the first
// seconds, or while nothing is done).
QString RateText(qint64 elapsedMs, long long done, long long total, bool inBytes);

} // namespace velmor
