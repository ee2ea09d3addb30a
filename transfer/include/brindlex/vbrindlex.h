// Brindlex: one VBRINDLEX fetches one HTTP or HTTPS URL into one file, on threads
// of its own, resuming a partial file by byte range.
//
// Threads. The owner's thread calls the setters, Go/GoAsync and CloseHandles and
// reads the public members. A run has a run thread (Go and its watchdog) and a
// worker thread (the fetch). Each function below says which of them calls it.
//
// Memory order, the one rule for every member shared between these threads: a
// member holding a value (flags, received, result, status, totalSize, speedLimit,
// fileError) is read and written with memory_order_relaxed, on every thread. Each is one word
// read whole, and none says anything about another: the owner may see status and
// totalSize from slightly different moments. A member holding a pointer another
// thread follows (the three internet handles) is stored with release and taken
// with acquire. Any other ordering comes from the handles: signalling a VHANDLE is a
// release and seeing it signalled an acquire, so once `thread` is seen signalled,
// result, the final status and everything else the run wrote are in place. The
// plain members (dataReceptor, url, referer, agent) are set before a run starts
// and only read during it; so are `cookies` and `refererIsPage`.
#pragma once

#include <atomic>
#include <cstdint>

#include "brindlex/vhandle.h"

// An internet handle (session, connection or request); opaque outside the library.
struct VInternetObject;
using VHINTERNET = VInternetObject*;

// Flag word.
constexpr unsigned long FLAG_TO_FILE = 0x00000001UL;
constexpr unsigned long FLAG_NO_RANGE = 0x00000008UL;
constexpr unsigned long FLAG_REFETCH_COMPLETE = 0x00000010UL;
constexpr unsigned long FLAG_ALIVE = 0x80000000UL;

// Status codes (negative); 0 and above is the byte count while data arrives.
constexpr long long STATUS_WAIT = -20;
constexpr long long STATUS_OPENING = -8;
constexpr long long STATUS_CONNECT = -6;
constexpr long long STATUS_REQUEST = -4;
constexpr long long STATUS_CATCH = -2;
constexpr long long STATUS_FAILED = -21;
constexpr long long STATUS_DONE = -22;

// Result codes; 300 and above is the HTTP status the server answered with.
constexpr unsigned long RESULT_OK = 0;
constexpr unsigned long RESULT_OPEN_FAILED = 1;
constexpr unsigned long RESULT_FILE_PROBLEM = 3;
constexpr unsigned long RESULT_BAD_URL = 5;
constexpr unsigned long RESULT_UNSUPPORTED = 6;
constexpr unsigned long RESULT_NO_CONNECT = 7;
constexpr unsigned long RESULT_BAD_REQUEST = 8;
constexpr unsigned long RESULT_BAD_SEND_REQUEST = 9;
constexpr unsigned long RESULT_DROPPED = 11;
constexpr unsigned long RESULT_INTERRUPTED = 12;
constexpr unsigned long RESULT_TIMEOUT = 13;

// A byte count the server did not give: all bits set.
constexpr std::uint64_t SIZE_UNKNOWN = ~std::uint64_t{0};

// Process-wide network settings, for every object of the process.
//
// Threads: any thread may call these at any time; they take a lock of their own,
// never one a transfer holds while it waits. The program calls them from its
// user-interface thread.

// Which proxy the requests go through.
enum VPROXY_MODE : int {
    // As the curl command line: http_proxy, HTTPS_PROXY / https_proxy, ALL_PROXY /
    // all_proxy and NO_PROXY / no_proxy decide (the default).
    PROXY_FROM_ENVIRONMENT = 0,
    // Always a direct connection, whatever the environment says.
    PROXY_NONE = 1,
    // The HTTP proxy at host:port (HTTPS goes through it with CONNECT), with an
    // optional user name and password that only the proxy ever gets. NO_PROXY /
    // no_proxy still name the hosts reached directly. A host that is empty or a
    // port that is 0 never falls back to a direct connection: the attempt ends
    // with RESULT_NO_CONNECT.
    PROXY_MANUAL = 2,
};
// Each attempt takes the setting as it stands when its request is made, for all
// its redirect hops; attempts in progress keep theirs. An unknown mode counts as
// PROXY_FROM_ENVIRONMENT; null texts as "". The texts are copied.
void VSetProxy(int mode, const char* host, unsigned port, const char* user, const char* password);

// The most all runs of the process together may write to their files, in bytes
// per second; 0 (the default) for no limit. Shared fairly among the runs that
// are receiving, and applied at once, to runs in progress too.
void VSetSpeedLimit(std::uint64_t bytesPerSecond);
std::uint64_t VGetSpeedLimit();

class VBRINDLEX {
public:
    // Written by the worker, closed by the run thread: null outside a run.
    std::atomic<VHINTERNET> internetHandle;
    std::atomic<VHINTERNET> connectHandle;
    std::atomic<VHINTERNET> requestHandle;
    // Output file path, not owned; null after construction.
    const char* dataReceptor;
    // Owned heap strings; `url` is "" after construction, `referer` null.
    char* url;
    char* referer;
    std::atomic<unsigned long> flags;
    // Bytes of the resource held in the output file: the next write offset.
    std::atomic<std::uint64_t> received;
    // Result code of the last run; final once `thread` is signalled.
    std::atomic<unsigned long> result;
    // Created by GoAsync, released by CloseHandles; owner's thread only.
    VHANDLE statusEvent;  // automatic reset: signalled at every status change
    VHANDLE thread;       // signalled when the run has ended and `result` is final
    VHANDLE stopEvent;    // manual reset: the run stops at the next block boundary
    // A status code, or while data arrives the byte count `received`.
    std::atomic<long long> status;
    // Length of the resource; 0 before the headers were read, SIZE_UNKNOWN when not given.
    std::atomic<std::uint64_t> totalSize;
    const char* agent;
    // Owned heap string, null after construction: the download's cookies as
    // Netscape cookie-file lines (domain, include-subdomains flag, path, secure
    // flag, expiry, name, value, tab-separated), one per line. They go to
    // libcurl's cookie engine, a store of this download alone, which decides
    // which request gets which cookie.
    char* cookies;
    // Nonzero: the first request's Referer is `referer` (the page the download
    // was started from) instead of the URL itself. 0 after construction.
    int refererIsPage;
    // The most this object's runs may write to the file, in bytes per second; 0
    // (after construction) for no limit of its own. Any thread may change it at
    // any time, also during a run, which follows the new value at once. It holds
    // within the process-wide VSetSpeedLimit, never beyond it.
    std::atomic<std::uint64_t> speedLimit;
    // Why the file operation failed when the last run ended with
    // RESULT_FILE_PROBLEM: the system's error number (ENOSPC, EACCES, ...), or 0
    // when no system call failed (no output path). 0 after construction; every
    // run sets it to 0 at its start. Written by the worker thread (or the run
    // thread), read by the owner, relaxed like the other values; final once
    // `thread` is signalled.
    std::atomic<int> fileError;
    // How many connections a run may open for this file: 1 after construction,
    // which fetches exactly as a single request does. Set by the owner before a
    // run; each run reads it when it starts (0 counts as 1).
    unsigned connections;
    // How many connections the run in progress has open now (0 when none runs).
    // Written by the run's threads, read by the owner, relaxed like the values.
    std::atomic<unsigned> connectionsInUse;

    VBRINDLEX();
    // Releases the strings and the handles; never waits for a run, so the owner
    // must not destroy an object whose run has not ended.
    virtual ~VBRINDLEX();

    // The transfer threads hold `this` during a run: an object is never copied.
    VBRINDLEX(const VBRINDLEX&) = delete;
    VBRINDLEX& operator=(const VBRINDLEX&) = delete;

    // Setters: owner's thread, never during a run. 1 on success, 0 when the copy
    // could not be allocated (the old value stays).
    int SetURL(const char* text);
    int SetReferer(const char* text);
    const char* GetURL();
    unsigned long SetFlags(unsigned long value);
    unsigned long GetFlags();
    // Returns the current receptor; a nonzero `receptor` replaces it.
    std::uintptr_t SetDataReceptor(std::uintptr_t receptor);
    // Owner's thread, never during a run, like the setters above: replaces
    // `cookies` with a copy of `lines` (null for none). 1, or 0 when the copy
    // could not be allocated (the old value stays).
    int SetCookies(const char* lines);

    // Runs the fetch with its watchdog on the calling thread, which becomes the run
    // thread; returns the result code.
    unsigned long Go();
    // Owner's thread. Starts Go on a new thread; returns that thread's handle (also
    // in `thread`). Null, with nothing changed, while the previous run has not ended.
    VHANDLE GoAsync();
    // Any thread. Signals `stopEvent`.
    void StopAsync();
    // Owner's thread. Closes stopEvent, statusEvent and thread, in that order, and
    // nulls them; does nothing while a run is in progress (`thread` not signalled).
    void CloseHandles();

private:
    // Run thread.
    void CloseInternetHandles();
    // Worker thread.
    void SetStatus(long long value);
    // Worker thread; the run or owner's thread when no thread could be started.
    unsigned long GoClose(int file, unsigned long code, long long finalStatus);
    // Worker thread.
    unsigned long MinorThread();
};
