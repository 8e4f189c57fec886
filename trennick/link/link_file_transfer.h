#pragma once
// FileTransfer: the file transfer of one station link. One file is sent and
// one received at a time. The application calls ProcessSending periodically;
// it opens and announces a started file, sends the first block, resends after
// a silent period and closes ended transfers. A received file is written under
// a temporary name ("<name>.part") in the folder of its kind and appears under
// its own name only after the whole-file check passed. A temporary file that
// a killed receive left behind is removed when the receive folders are set
// (at start) and before a new receive of the same name.
//
// The link owns it and forwards its file-transfer operations and the tokens
// and file blocks of a transfer to it.
// Threads: the link's, under the link's bucket lock (the link takes it).
// Failures: operations answer by state and result as the link documents them;
// the user is told through FileTransferLink::notice; nothing throws.

#include "platform/types.h"
#include "trennick/link/bucket.h"
#include "trennick/link/file_transfer.h"
#include "trennick/link/station_info.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace trennick {

// A stdio file of the transfer, closed when its owner lets go of it.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// What a transfer needs of its link.
class FileTransferLink {
public:
    virtual ~FileTransferLink() = default;
    // Sends one token; false when nothing was written.
    [[nodiscard]] virtual bool sendToken(WORD tokenId) = 0;
    // Builds and writes one bucket, with the check header of a guarded bucket
    // when checkHeader is given; the transport's count.
    [[nodiscard]] virtual LONG sendBucket(WORD bucketType, const BYTE* payload, DWORD length, WORD bucketNo,
                            const char* checkHeader) = 0;
    virtual DWORD nowMs() = 0;
    // "P" of the peer's hello; and whether the peer takes the newer layouts.
    virtual LONG peerProtocolNumber() = 0;
    virtual bool peerNewLayout() = 0;
    // Largest block the transport takes in one write.
    virtual DWORD maxChunk() = 0;
    // A notice to the owner window (string resource, one text argument).
    virtual void notice(UINT stringId, const std::string& argument) = 0;
    virtual void post(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // The site information the program holds for the peer; false when none.
    virtual bool remoteSiteInfo(SiteInfoBlock& site) = 0;
    // Lights the data lamp for a file block that failed its checksum.
    virtual void errorLamp() = 0;
    // A card picture was sent whole, or arrived whole at `path`.
    virtual void cardPictureSent() = 0;
    virtual void cardPictureReceived(const std::string& path) = 0;
    // A transfer ended; told once per transfer.
    virtual void transferEnded(const LinkTransferResult& ended) = 0;
};

class FileTransfer {
public:
    explicit FileTransfer(FileTransferLink& link);
    // Closes what is open; a file still arriving is removed.
    ~FileTransfer();
    FileTransfer(const FileTransfer&) = delete;
    FileTransfer& operator=(const FileTransfer&) = delete;

    // ---- the application's operations (CPacketConnection forwards them) ----
    LONG ProcessSending();
    [[nodiscard]] LONG SetSendStatus(LONG command, LONG value, const char* text);
    [[nodiscard]] LONG SetReceiveStatus(LONG command, const char* text);
    // Ends a queued or running send as SetSendStatus(0) does ("<Stop Sending>"
    // to the peer, state SEND_STOPPED); otherwise changes nothing. Always 1.
    LONG CancelSending();
    // The getters change no transfer state: an ended transfer stays as it
    // ended until SetSendStatus / SetReceiveStatus makes the side ready again
    // (its end is also told once, transferEnded). Only the rate meters move.
    [[nodiscard]] LONG GetSendStatus(ULONGLONG* totalBytes, ULONGLONG* sentBytes, LONG* kind, LONG* rate, std::string* name) const;
    [[nodiscard]] LONG GetReceiveStatus(ULONGLONG* totalBytes, ULONGLONG* receivedBytes, LONG* kind, LONG* rate,
                          std::string* name) const;
    void GetTransferProgress(int which, ULONGLONG& bytes, DWORD& elapsedMs);
    // The sizes of the file going out and of the file coming in; 0 for a side
    // that moves none. Reads only: no state or rate changes.
    void GetTransferSizes(ULONGLONG& sentSize, ULONGLONG& receivedSize) const;
    void GetErrorCounts(DWORD& sendRetries, DWORD& receiveErrors);
    [[nodiscard]] bool GetReceivedFileName(std::string& path);
    LONG CheckReceiveCompletion();
    // The receive time-out of CheckTimeOuts.
    void CheckReceiveTimeOut();
    // Stores each folder that is given; temporary files that no receive is
    // writing are removed from the receive folders.
    void SetReceiveFolders(const char* receiveFolder, const char* specialFolder);

    // ---- the peer's tokens and file blocks ----
    void OnStopSending();
    void OnDoNotSend();
    void OnOkForSend();
    // "<CRCOK>", "<CRCnotOK>": whether the answer concerns this side (a block
    // or the whole-file check waits for it); the link hands it on only then.
    bool WaitsForAnswer() const;
    void OnCrcNotOkRewind();
    void OnBlockConfirmed(const BYTE* body, DWORD length);
    void OnBlockRefused(const BYTE* body, DWORD length);
    void ConfirmOnCRC(const BYTE* body, DWORD length);
    void ConfirmOnSending(WORD tokenId, const BYTE* body, DWORD length);
    void OnFinishSending();
    void ReceiveData(const DecodedBucket& bucket);
    // "<Disconnect>" from the peer, or the line dropped.
    void OnPeerDisconnect();
    void OnLineDropped();

    // ---- the link's lifecycle ----
    // Farewell of a link that ends: a running send sends "<Stop Sending>", a
    // running receive "<Do Not Send>"; then every file is closed.
    void Finish();
    // A new call: idle states, no file kind, offsets -1.
    void ResetStates();
    // Closes the files and forgets the checks of the last transfer.
    void ResetFiles();
    // The link's read pass ends when either side is disconnecting.
    bool UserDisconnecting() const;

    LONG SendStatus() const { return m_sendState; }
    LONG ReceiveStatus() const { return m_recvState; }

private:
    // Every change of a side's state goes through these: leaving the running
    // states tells the transfer's end, once (a file that arrived is told when
    // its finishing token came, see OnFinishSending).
    void setSendState(LONG state);
    void setReceiveState(LONG state);
    void tellReceiveEnded(LONG result);
    void closeSendFile();
    void closeReceiveFile();
    std::string receiveTargetFolder(int kind, bool& ok);
    void removeStaleParts(const std::string& folder);
    void failReceive(LONG state, bool tellPeer);
    bool commitReceivedFile();
    void finishSend(LONG state);
    // This side stops the send: a running one tells the peer; SEND_STOPPED.
    void stopSend();
    void resendFromConfirmed(const char* why);
    LONG sendAnnouncement();
    LONG sendBlock();
    // Reads, escapes and checks the block at the send offset into the work
    // buffers as the next block to go; false when nothing could be read.
    bool prepareBlock(DWORD chunk);
    // Reads up to `bytes` of the file being sent at `offset`; what it got.
    std::size_t readSendFile(BYTE* data, std::size_t bytes, LONGLONG offset);
    // Writes the received bytes that wait in memory to the file; false (and
    // the failure shown) when they could not all be written.
    bool flushReceived();
    void sendBlockAnswer(WORD tokenId, WORD number);
    // Whether an answer carrying `number` (none: the token alone) answers the
    // block or check that waits for `expected`.
    bool answerCounts(std::optional<WORD> number, WORD expected);

    FileTransferLink& m_link;

    LONG m_sendState = SEND_IDLE;
    LONG m_recvState = REC_READY;
    std::string m_receiveFolder;
    std::string m_specialFolder;

    // Sending.
    FilePtr m_sendFile;
    std::string m_sendPath;
    int m_sendKind = 0;
    ULONGLONG m_sendFileLength = 0;
    LONGLONG m_sendOffset = -1;
    LONGLONG m_confirmedOffset = 0;
    DWORD m_sendBlocks = 0;
    DWORD m_confirmedBlocks = 0;
    DWORD m_retryCount = 0;
    DWORD m_sendStartMs = 0;
    DWORD m_sendFileChecksum = 0;       // sum of the block checksums sent
    DWORD m_confirmedFileChecksum = 0;  // the same up to the last confirmed block
    DWORD m_blockSentMs = 0;
    DWORD m_announcedMs = 0;
    bool m_awaitingFileCheck = false;   // "<FCRC>" sent, its answer not yet in
    WORD m_inFlightNo = 0;              // number of the block last sent
    DWORD m_blockRetries = 0;           // resends of the block in flight
    DWORD m_fileCheckTries = 0;
    mutable RateInterval m_sendRate;  // a rate meter: read by the getters
    bool m_sendEndPending = false;     // a send started and its end is not told yet
    // How the peer's block answers are read; learnt from them for each file.
    enum class AnswerNumbering { Unknown, Numbered, TokenOnly };
    AnswerNumbering m_answerNumbering = AnswerNumbering::Unknown;

    // Receiving.
    FilePtr m_recvFile;
    int m_recvFileKind = 0;
    LONGLONG m_recvOffset = -1;
    ULONGLONG m_recvAnnouncedBytes = 0;
    ULONGLONG m_recvBytes = 0;
    std::string m_recvName;             // the announced name, checked
    std::string m_recvFinalPath;
    std::string m_recvTempPath;
    std::string m_receivedFilePath;     // the last file that arrived whole
    WORD m_recvPacketNo = 0;
    bool m_recvFirstBlock = true;
    DWORD m_recvFileChecksum = 0;
    bool m_recvChecked = false;         // the whole-file check passed
    bool m_recvFinishSeen = false;
    bool m_recvNotified = false;
    DWORD m_recvErrors = 0;
    DWORD m_lastFileActivityMs = 0;
    mutable RateInterval m_recvRate;  // a rate meter: read by the getters
    mutable LONG m_lastRecvRate = -1;
    bool m_recvEndPending = false;    // a receive started and its end is not told yet

    // Work buffers of a file block: the bytes read and their escaped form.
    std::vector<BYTE> m_workRead;
    std::vector<BYTE> m_workEscaped;
    // The block the escaped work buffer holds, read ahead of its turn.
    struct PreparedBlock {
        bool ready = false;
        LONGLONG offset = 0;
        DWORD chunk = 0;
        DWORD escaped = 0;  // its escaped length
        DWORD used = 0;     // the file bytes it carries
        LONG checksum = 0;
    };
    PreparedBlock m_nextBlock;
    // The file being sent is read a window at a time; blocks come from it.
    static constexpr std::size_t kSendWindowBytes = 64 * 1024;
    std::vector<BYTE> m_sendWindow;
    LONGLONG m_sendWindowOffset = 0;
    std::size_t m_sendWindowBytes = 0;
    // Received blocks are written a window at a time (and before the file is
    // committed): the bytes waiting and the file offset where they start.
    static constexpr std::size_t kReceiveWindowBytes = 16 * 1024;
    std::vector<BYTE> m_recvPending;
    ULONGLONG m_recvPendingOffset = 0;
};

}  // namespace trennick
