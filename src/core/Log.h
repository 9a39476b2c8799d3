// Every message of the server goes through the Log singleton. A message is written in pieces;
// the piece that ends the line closes it. A line in the log file always starts with the local
// time "(hh:mm:ss) " taken at its first piece; console lines carry it only in time mode.
//
// The file is written a whole line at a time. A line that cannot be written (a full disk, a file
// size limit) is lost and counted, never retried: the server goes on. The first loss is reported
// once on standard error, which stays open in background mode; the next line that can be written
// again is preceded by a SERVER-WARNING line saying how many were lost.
#pragma once

#include <ostream>
#include <string>

class Log {
public:
    // Creates the log on first use. Delete the returned object to destroy it; the destructor
    // writes the closing line of an open file and lets getInstance() create a fresh log.
    static Log* getInstance();
    ~Log();

    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    void setQuietMode(bool quiet) { m_quietMode = quiet; }
    void setSTDTime(bool on) { m_stdTime = on; }
    void setListenMode(bool on) { m_listenMode = on; }
    bool getListenMode() const { return m_listenMode; }

    // Where console pieces go; std::cout by default. Null drops them (a detached process whose
    // standard output is gone). Tests point it at a string stream.
    void setConsole(std::ostream* console) { m_console = console; }

    // Where the report of a file that cannot be written goes; std::cerr by default.
    void setErrorStream(std::ostream* errors) { m_errors = errors; }

    // Opens `path` for writing, emptying it, and writes the opening line. True when open. The
    // file is written in append mode, so a log truncated by someone else goes on at its start.
    bool openLogForWriting(const char* path);
    // Writes the closing line of an open file and closes it.
    void closeLog();
    bool isLogOpen() const { return m_fd >= 0; }
    // Opens the file's path again, in append mode, and goes on writing there: after a log
    // rotation renamed the file, new lines go to a new file at the configured path while the
    // renamed one keeps its lines. When the path cannot be opened, the old file stays in use and
    // gets an ERROR line. False then, and when no file is open.
    bool reopenLog();

    // Writes one piece. A null text writes nothing but still opens or ends the line.
    void writeToLog(const char* item, bool endLine, bool toConsole);
    void writeToLog(const std::string& item, bool endLine, bool toConsole);
    void writeToLog(int item, bool endLine, bool toConsole);
    void writeToLog(long item, bool endLine, bool toConsole);
    void writeToLog(float item, bool endLine, bool toConsole);

    // Chooses the log file from -l, --log or the LogFile key and opens it. False (with a
    // message for a wrong number of values) when a file was asked for and is not open.
    bool setupLog();

    // The "(hh:mm:ss) " prefix for the current local time.
    static std::string timePrefix();

    // `text` with every byte below 0x20 or above 0x7E written as \xNN, so that text a client
    // sent cannot start a line of its own or hide characters in the log.
    static std::string printable(const std::string& text);

private:
    Log();
    bool openNamedLog(const char* what, const char* errorLine);
    // Writes `text` to the file as it is; on failure counts a lost line.
    void writeToFile(const std::string& text);
    bool writeWhole(const std::string& text);

    static Log* s_instance;

    bool m_quietMode = false;
    bool m_listenMode = false;
    bool m_lineOpen = false;
    bool m_stdTime = false;
    std::ostream* m_console;
    std::ostream* m_errors;
    int m_fd = -1;
    std::string m_path;
    // The pieces of the line being written, until its last piece.
    std::string m_fileLine;
    long m_lostLines = 0;
    // The last write stopped inside a line, so the next one starts on a new line.
    bool m_cutLine = false;
};
