// File transfer over the link: the sending steps, the receiving of file
// blocks, the whole-file check and the status operations.

#include "trennick/link/link_file_transfer.h"

#include "common/fixed_text.h"
#include "trennick/link/common_base.h"
#include "trennick/link/link_host.h"
#include "trennick/link/prot_list.h"

#include "platform/folders.h"
#include "trennick/link/link_trace.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace trennick {

namespace {

// A block is read and written at its offset in one system call, past the
// stream's own buffer (which blocks never use): the file stays as stdio
// opened it for its checksum and its close.
std::size_t readAt(std::FILE* file, BYTE* data, std::size_t bytes, off_t offset) {
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pread(::fileno(file), data + done, bytes - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool writeAt(std::FILE* file, const BYTE* data, std::size_t bytes, off_t offset) {
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pwrite(::fileno(file), data + done, bytes - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

constexpr DWORD kAnnounceWaitMs = 60000;
constexpr DWORD kFileIdleLimitMs = 60000;
constexpr DWORD kBlockConfirmMs = 6000;
constexpr DWORD kFileCheckTries = 10;
// A block refused or unanswered this often ends the transfer as failed.
constexpr DWORD kBlockRetryLimit = 30;

// The number behind an answer token ("<CRCOK><12>"), when there is one.
std::optional<WORD> answerNumber(const BYTE* body, DWORD length) {
    if (body == nullptr || length < 3 || body[0] != '<') return std::nullopt;
    DWORD i = 1;
    long value = 0;
    while (i < length && i < 8 && body[i] >= '0' && body[i] <= '9') value = value * 10 + (body[i++] - '0');
    if (i == 1 || i >= length || body[i] != '>') return std::nullopt;
    return static_cast<WORD>(value);
}

UINT openFailureMessage(int error) {
    switch (error) {
    case EMFILE: case ENFILE: return kStrTooManyOpenFiles;
    case EACCES: case EPERM: case EBUSY: case ETXTBSY: return kStrFileAccessDenied;
    default: return kStrFileNotFound;
    }
}

UINT writeFailureMessage(int error) {
    return (error == EMFILE || error == ENFILE) ? kStrTooManyOpenFiles : kStrDiskFull;
}

ULONGLONG fileTimeOf(const struct stat& st) {
    // 100-ns intervals since 1601, as a FILETIME holds them.
    constexpr ULONGLONG kEpochDifference = 116444736000000000ull;
    return kEpochDifference + static_cast<ULONGLONG>(st.st_mtim.tv_sec) * 10000000ull +
           static_cast<ULONGLONG>(st.st_mtim.tv_nsec) / 100;
}

}  // namespace

FileTransfer::FileTransfer(FileTransferLink& link) : m_link(link) {
    m_workRead.assign(0x10000, 0);
    m_workEscaped.assign(0x10000, 0);
}

FileTransfer::~FileTransfer() {
    closeSendFile();
    closeReceiveFile();
}

void FileTransfer::closeSendFile() {
    m_nextBlock.ready = false;
    m_sendWindowBytes = 0;
    m_sendFile.reset();
}

void FileTransfer::closeReceiveFile() {
    m_recvPending.clear();
    m_recvFile.reset();
    // A file still under its temporary name never passed its whole-file
    // check: it must not survive as if it had arrived.
    if (!m_recvTempPath.empty()) {
        std::error_code ignored;
        std::filesystem::remove(m_recvTempPath, ignored);
        m_recvTempPath.clear();
    }
}

// ---- the link's lifecycle ----

void FileTransfer::Finish() {
    if (m_sendState == SEND_SENDING) {
        closeSendFile();
        m_link.sendToken(ID_DSVD_STOP_SENDING);
    }
    if (m_recvState == REC_RECEIVING) {
        closeReceiveFile();
        m_link.sendToken(ID_DSVD_DO_NOT_SEND);
    }
    closeSendFile();
    closeReceiveFile();
}

void FileTransfer::ResetStates() {
    m_answerNumbering = AnswerNumbering::Unknown;
    m_recvFileKind = 0;
    // A new call: what the last one left is not told as an end of this one.
    m_sendEndPending = false;
    m_recvEndPending = false;
    m_sendState = SEND_IDLE;
    m_recvState = REC_READY;
    m_sendOffset = -1;
    m_recvOffset = -1;
}

void FileTransfer::ResetFiles() {
    closeSendFile();
    closeReceiveFile();
    m_recvFinalPath.clear();
    m_awaitingFileCheck = false;
    m_recvChecked = false;
    m_recvFinishSeen = false;
    m_recvNotified = false;
}

bool FileTransfer::UserDisconnecting() const {
    return m_sendState == SEND_USER_DISCONNECTING || m_recvState == REC_USER_DISCONNECTING;
}

void FileTransfer::OnPeerDisconnect() {
    setReceiveState(REC_USER_DISCONNECTING);
    if (m_sendState != SEND_IDLE) setSendState(SEND_USER_DISCONNECTING);
    closeSendFile();
    closeReceiveFile();
    m_recvFinalPath.clear();
}

void FileTransfer::OnLineDropped() {
    setReceiveState(REC_USER_DISCONNECTING);
    setSendState(SEND_USER_DISCONNECTING);
    closeSendFile();
    closeReceiveFile();
}

void FileTransfer::CheckReceiveTimeOut() {
    if (m_recvState == REC_RECEIVING && m_link.nowMs() - m_lastFileActivityMs > kFileIdleLimitMs) {
        setReceiveState(REC_TIMED_OUT);
        linkTrace(1, "CPacketConnection::CheckTimeOuts() No data has been transfered for a while. The remote "
                     "site may have disconnected.Video/Data transfer has been stopped");
        closeReceiveFile();
        m_recvFinalPath.clear();
        m_link.notice(kStrReceiveTimedOut, {});
    }
}

LONG FileTransfer::CheckReceiveCompletion() {
    if (m_recvState == REC_RECEIVING && m_recvBytes >= m_recvAnnouncedBytes &&
        m_link.nowMs() - m_lastFileActivityMs > kFileIdleLimitMs) {
        // Every byte arrived but the sender never closed the file with its
        // whole-file check: without that check the file is not complete.
        linkTrace(1, "CPacketConnection::CheckReceiveCompletion() %s: no whole-file check arrived, file dropped",
                  m_recvName.c_str());
        closeReceiveFile();
        m_recvFinalPath.clear();
        setReceiveState(REC_FAILED);
    } else if (m_recvState == REC_WAIT_USER) {
        closeReceiveFile();
    }
    return 1;
}

void FileTransfer::SetReceiveFolders(const char* receiveFolder, const char* specialFolder) {
    if (receiveFolder != nullptr) m_receiveFolder = receiveFolder;
    if (specialFolder != nullptr) m_specialFolder = specialFolder;
    removeStaleParts(m_receiveFolder);
    removeStaleParts(m_specialFolder);
    // Remote settings arrive in a folder of their own, one per station.
    namespace fs = std::filesystem;
    const fs::path settings = platform::programFolder() / "RSettings";
    removeStaleParts(settings.string());
    std::error_code error;
    for (fs::directory_iterator it(settings, error), end; !error && it != end; it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error)) removeStaleParts(it->path().string());
    }
}

void FileTransfer::removeStaleParts(const std::string& folder) {
    namespace fs = std::filesystem;
    if (folder.empty()) return;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        if (path.extension() != ".part" || path.string() == m_recvTempPath) continue;
        // A file or a link named like a temporary file; a folder is left alone.
        std::error_code kindError;
        if (it->is_directory(kindError) && !it->is_symlink(kindError)) continue;
        std::error_code removeError;
        if (fs::remove(path, removeError)) {
            linkTrace(3, "CPacketConnection::SetReceiveFolders() %s: left by a receive that never finished, removed",
                      path.string().c_str());
        }
    }
}

// ---- the peer's control tokens ----

void FileTransfer::OnStopSending() {
    if (m_recvState == REC_RECEIVING) {
        closeReceiveFile();  // the unfinished file goes
        m_recvFinalPath.clear();
    }
    setReceiveState(REC_STOPPED);
    m_link.notice(kStrStopSending, {});
}

void FileTransfer::OnDoNotSend() {
    setSendState(SEND_REFUSED);
    m_link.notice(kStrDoNotSend, {});
}

void FileTransfer::OnOkForSend() {
    if (m_sendState == SEND_ANNOUNCED) {
        setSendState(SEND_SENDING);
        m_sendOffset = 0;
        m_confirmedOffset = 0;
        m_sendBlocks = 0;
        m_confirmedBlocks = 0;
        m_retryCount = 0;
        m_sendStartMs = m_link.nowMs();
        // The first block goes with the peer's consent, as every later one
        // goes with its answer, instead of waiting for the next loop pass.
        sendBlock();
    }
}

bool FileTransfer::WaitsForAnswer() const { return m_sendState == WAIT_CRC_CONFIRM; }

void FileTransfer::OnCrcNotOkRewind() {
    m_sendOffset = m_confirmedOffset;
    m_sendBlocks = m_confirmedBlocks;
    m_sendFileChecksum = m_confirmedFileChecksum;
    ++m_retryCount;
    setSendState(SEND_SENDING);
}

// ---- sending ----

LONG FileTransfer::SetSendStatus(LONG command, LONG value, const char* text) {
    switch (command) {
    case 1:
        if (m_sendState > 0 || text == nullptr) {
            return 0;
        }
        m_sendPath = text;
        m_sendKind = value;
        m_sendOffset = 0;
        setSendState(SEND_START);
        return 1;
    case 0:
        stopSend();
        return 1;
    case 7:
        if (m_sendState == SEND_SENDING) {
            setSendState(SEND_FAILED);
        }
        return 0;
    case 9:
        closeSendFile();
        linkTrace(5, "CPacketConnection::SetSendStatus() SendAcknowledgment(ID_DSVD_DISCONNECT,CONTROLPACKET)");
        m_link.sendToken(ID_DSVD_DISCONNECT);
        setSendState(SEND_CLOSED);
        return 1;
    case -2:
        setSendState(SEND_CLOSED);
        return 1;
    case -3:
        closeSendFile();
        setSendState(SEND_STOPPED);
        return 1;
    case -1:
        closeSendFile();
        setSendState(SEND_IDLE);
        return 1;
    default:
        return 0;
    }
}

LONG FileTransfer::CancelSending() {
    // A cancel ends the queued or running send as this side's stop does: the
    // peer is told and the send ends stopped, never as a file that went whole.
    // With no send under way there is nothing to end.
    if (m_sendState == SEND_START || m_sendState == SEND_ANNOUNCED || m_sendState == SEND_SENDING ||
        m_sendState == WAIT_CRC_CONFIRM) {
        stopSend();
    }
    return 1;
}

void FileTransfer::stopSend() {
    if (m_sendState == SEND_ANNOUNCED || m_sendState == SEND_SENDING || m_sendState == WAIT_CRC_CONFIRM) {
        m_link.sendToken(ID_DSVD_STOP_SENDING);
        closeSendFile();
    }
    setSendState(SEND_STOPPED);
}

void FileTransfer::setSendState(LONG state) {
    m_sendState = state;
    switch (state) {
    case SEND_START:
        m_sendEndPending = true;
        return;
    case SEND_ANNOUNCED: case SEND_SENDING: case WAIT_CRC_CONFIRM:
        return;
    default:
        break;
    }
    // An ended send holds its file no longer.
    closeSendFile();
    if (!m_sendEndPending) return;
    m_sendEndPending = false;
    m_link.transferEnded(LinkTransferResult{TransferDirection::Send, static_cast<int>(m_sendKind), m_sendPath, state});
}

void FileTransfer::setReceiveState(LONG state) {
    m_recvState = state;
    switch (state) {
    case REC_RECEIVING:
        m_recvEndPending = true;
        return;
    case REC_COMPLETE: case REC_READY: case REC_IDLE:
        // A file that arrived is told with its finishing token; making the
        // side ready ends nothing.
        return;
    default:
        closeReceiveFile();
        tellReceiveEnded(state);
        return;
    }
}

void FileTransfer::tellReceiveEnded(LONG result) {
    if (!m_recvEndPending) return;
    m_recvEndPending = false;
    const std::string path = result == REC_COMPLETE ? m_receivedFilePath : m_recvName;
    m_link.transferEnded(LinkTransferResult{TransferDirection::Receive, m_recvFileKind, path, result});
}

void FileTransfer::finishSend(LONG state) {
    closeSendFile();
    m_awaitingFileCheck = false;
    setSendState(state);
}

LONG FileTransfer::sendAnnouncement() {
    struct stat st {};
    if (m_sendFile == nullptr || ::fstat(::fileno(m_sendFile.get()), &st) != 0) {
        return 0;
    }
    const WORD token = announcementToken(m_sendKind, m_link.peerNewLayout());
    const std::string name = CCommon::GetFileNameFromPath(m_sendPath, CCommon::kBaseName | CCommon::kExtension);
    const std::vector<BYTE> payload = buildAnnouncement(token, name, m_sendFileLength, fileTimeOf(st));
    const LONG written = m_link.sendBucket(kTokenBucket, payload.data(), static_cast<DWORD>(payload.size()), 0, nullptr);
    setSendState(SEND_ANNOUNCED);
    m_sendRate = {m_link.nowMs(), 0};
    return written;
}

LONG FileTransfer::ProcessSending() {
    const DWORD t = m_link.nowMs();
    switch (m_sendState) {
    case SEND_START: {
        closeSendFile();
        m_sendFile.reset(std::fopen(m_sendPath.c_str(), "rb"));
        struct stat st {};
        if (m_sendFile == nullptr || ::fstat(::fileno(m_sendFile.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
            const int error = m_sendFile == nullptr ? errno : EISDIR;
            closeSendFile();
            setSendState(SEND_FAILED);
            const UINT message = openFailureMessage(error);
            if (message == kStrTooManyOpenFiles) {
                linkTrace(1, "CPacketConnection::ProcessSending() Failed!!! File = %s e.m_cause = CFileException ::tooManyOpenFiles\n", m_sendPath.c_str());
            } else if (message == kStrFileAccessDenied) {
                linkTrace(1, "CPacketConnection::ProcessSending() Failed!!! File = %s e.m_cause = CFileException::accessDenied|| sharingViolation\n", m_sendPath.c_str());
            } else {
                linkTrace(1, "CPacketConnection::ProcessSending() Failed!!! File = %s e.m_cause = CFileException::badPath || notFound\n", m_sendPath.c_str());
            }
            m_link.notice(message, m_sendPath);
            break;
        }
        m_sendFileLength = static_cast<ULONGLONG>(st.st_size);
        if (m_sendFileLength == 0) {
            // An empty file is never announced.
            finishSend(SEND_COMPLETE);
            break;
        }
        m_sendOffset = 0;
        m_confirmedOffset = 0;
        m_sendBlocks = 0;
        m_confirmedBlocks = 0;
        m_sendFileChecksum = 0;
        m_confirmedFileChecksum = 0;
        m_awaitingFileCheck = false;
        m_fileCheckTries = 0;
        m_blockRetries = 0;
        m_inFlightNo = 0;
        // How the peer numbers its answers is learnt afresh for each file.
        m_answerNumbering = AnswerNumbering::Unknown;
        sendAnnouncement();
        m_announcedMs = t;
        break;
    }
    case SEND_ANNOUNCED:
        if (t - m_announcedMs > kAnnounceWaitMs) {
            finishSend(SEND_FAILED);
            linkTrace(1, "CPacketConnection::ProcessSending() Failed!!!    Receiver did not confirm on sending\n");
            m_link.notice(kStrReceiverSilent, {});
        }
        break;
    case SEND_SENDING:
        sendBlock();
        break;
    case WAIT_CRC_CONFIRM:
        if (t - m_blockSentMs > kBlockConfirmMs) {
            if (m_awaitingFileCheck) {
                if (++m_fileCheckTries >= kFileCheckTries) {
                    linkTrace(1, "CPacketConnection::ProcessSending() the receiver never answered the whole-file check");
                    finishSend(SEND_FAILED);
                } else {
                    ++m_retryCount;
                    setSendState(SEND_SENDING);
                    sendBlock();  // sends the check again
                }
            } else {
                resendFromConfirmed("time-out");
            }
        }
        break;
    case SEND_COMPLETE:
    case SEND_STOPPED:
        closeSendFile();
        break;
    default:
        break;
    }
    return m_sendState;
}

void FileTransfer::resendFromConfirmed(const char* why) {
    linkTrace(3, "CRC confirmation waiting timeout, Sending again from FileSending.CurrStatus=%ld offset (%s)",
              static_cast<long>(m_confirmedOffset), why);
    if (++m_blockRetries > kBlockRetryLimit) {
        linkTrace(1, "CPacketConnection::ProcessSending() block at offset %ld failed %lu times: transfer ended",
                  static_cast<long>(m_confirmedOffset), static_cast<unsigned long>(kBlockRetryLimit));
        finishSend(SEND_FAILED);
        return;
    }
    m_sendOffset = m_confirmedOffset;
    m_sendBlocks = m_confirmedBlocks;
    // The running checksum goes back with the offset, or the resent block
    // would be counted twice in the whole-file check.
    m_sendFileChecksum = m_confirmedFileChecksum;
    ++m_retryCount;
    setSendState(SEND_SENDING);
    sendBlock();
}

LONG FileTransfer::sendBlock() {
    if (m_sendFile == nullptr) {
        linkTrace(1, "CPacketConnection::sendBlock() no file open");
        finishSend(SEND_FAILED);
        return 0;
    }
    const DWORD t = m_link.nowMs();
    if (static_cast<ULONGLONG>(m_sendOffset) >= m_sendFileLength) {
        // Every block is confirmed: the whole-file check closes the file,
        // and "<FinishSending>" follows once the receiver accepted it.
        std::string payload(tokenText(ID_DSVD_FCRC));
        payload += fileChecksumText(m_sendFileChecksum);
        m_link.sendBucket(kTokenBucket, reinterpret_cast<const BYTE*>(payload.data()), static_cast<DWORD>(payload.size()), 0, nullptr);
        m_awaitingFileCheck = true;
        setSendState(WAIT_CRC_CONFIRM);
        m_blockSentMs = t;
        return 1;
    }
    if (m_sendOffset < 0) {
        linkTrace(1, "CPacketConnection::sendBlock() Failed!!!    e->m_cause == CFileException ::invalidFile || CFileException::badSeek\n");
        finishSend(SEND_FAILED);
        m_link.notice(kStrFileReadFailed, m_sendPath);
        return 0;
    }
    const DWORD chunk = std::clamp<DWORD>(m_link.maxChunk(), 4, static_cast<DWORD>(m_workEscaped.size() - 1));
    const bool readAhead = m_nextBlock.ready && m_nextBlock.offset == m_sendOffset && m_nextBlock.chunk == chunk;
    if (!readAhead && !prepareBlock(chunk)) {
        // A read error, or the file shrank under us: it cannot arrive whole.
        linkTrace(1, "CPacketConnection::sendBlock() Failed!!!    e->m_cause == invalidFile | badSeek | accessDenied | sharingViaolation\n");
        finishSend(SEND_FAILED);
        m_link.notice(kStrFileReadFailed, m_sendPath);
        return 0;
    }
    m_nextBlock.ready = false;
    const DWORD escaped = m_nextBlock.escaped;
    const DWORD used = m_nextBlock.used;
    const LONG checksum = m_nextBlock.checksum;
    char check[kCheckHeaderBytes];
    std::snprintf(check, sizeof check, "%14ld", static_cast<long>(checksum));
    const WORD bucketNo = static_cast<WORD>(m_link.peerProtocolNumber() >= 3 ? m_sendBlocks : m_sendBlocks + 1);
    const LONG written = m_link.sendBucket(kFileBlockBucket, m_workEscaped.data(), escaped, bucketNo, check);
    if (written >= static_cast<LONG>(escaped)) {
        linkTrace(5, "CPacketConnection::sendBlock() FileSendStatus=WAIT_CRC_CONFIRM\n\tCurrBucket.BucketNo = %ld",
                  static_cast<long>(bucketNo));
        m_inFlightNo = bucketNo;
        m_sendOffset += used;
        m_sendFileChecksum += static_cast<DWORD>(checksum);
        m_sendRate.bytes += used;
        ++m_sendBlocks;
        setSendState(WAIT_CRC_CONFIRM);
        // The next block is read while the peer checks this one, so its
        // answer finds it ready to go. A read that fails here is tried again
        // when the block is due, and reported then.
        if (static_cast<ULONGLONG>(m_sendOffset) < m_sendFileLength) prepareBlock(chunk);
    }
    m_blockSentMs = t;
    return written;
}

std::size_t FileTransfer::readSendFile(BYTE* data, std::size_t bytes, LONGLONG offset) {
    // Blocks are served from a window of the file read in one system call. A
    // window shorter than its buffer ends at the end of the file: a block at
    // its tail takes what is there. Otherwise it is read anew from `offset`.
    const LONGLONG windowEnd = m_sendWindowOffset + static_cast<LONGLONG>(m_sendWindowBytes);
    const bool held = offset >= m_sendWindowOffset && offset < windowEnd &&
                      (offset + static_cast<LONGLONG>(bytes) <= windowEnd || m_sendWindowBytes < m_sendWindow.size());
    if (!held) {
        if (m_sendWindow.empty()) m_sendWindow.resize(kSendWindowBytes);
        m_sendWindowOffset = offset;
        m_sendWindowBytes = readAt(m_sendFile.get(), m_sendWindow.data(), m_sendWindow.size(), static_cast<off_t>(offset));
    }
    const std::size_t skip = static_cast<std::size_t>(offset - m_sendWindowOffset);
    if (skip >= m_sendWindowBytes) return 0;
    const std::size_t got = std::min(bytes, m_sendWindowBytes - skip);
    std::memcpy(data, m_sendWindow.data() + skip, got);
    return got;
}

bool FileTransfer::prepareBlock(DWORD chunk) {
    m_nextBlock.ready = false;
    const std::size_t got = readSendFile(m_workRead.data(), chunk, m_sendOffset);
    if (got == 0) return false;
    DWORD used = 0;
    m_nextBlock.escaped = escapeBlock(m_workRead.data(), static_cast<DWORD>(got), chunk - 2, m_workEscaped.data(), used,
                                      m_nextBlock.checksum);
    m_nextBlock.used = used;
    m_nextBlock.offset = m_sendOffset;
    m_nextBlock.chunk = chunk;
    m_nextBlock.ready = true;
    return true;
}

bool FileTransfer::answerCounts(std::optional<WORD> number, WORD expected) {
    // Stations of this program number each answer after the block it answers
    // (the whole-file check after the last block); other peers put any number
    // there, often a constant 0, and are taken by the token alone. Which kind
    // the peer is shows in its first answer to a block other than 0.
    if (!number || m_link.peerProtocolNumber() < kOwnProtocolNumber) {
        return true;
    }
    if (m_answerNumbering == AnswerNumbering::Unknown) {
        if (*number != expected) {
            linkTrace(5, "CPacketConnection: the peer's answers do not carry the block number: taken by their token");
            m_answerNumbering = AnswerNumbering::TokenOnly;
        } else if (expected != 0) {
            m_answerNumbering = AnswerNumbering::Numbered;
        }
        return true;
    }
    return m_answerNumbering == AnswerNumbering::TokenOnly || *number == expected;
}

void FileTransfer::sendBlockAnswer(WORD tokenId, WORD number) {
    std::string text(tokenText(tokenId));
    text += "<" + std::to_string(number) + ">";
    m_link.sendBucket(kTokenBucket, reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()), 0, nullptr);
}

void FileTransfer::OnBlockConfirmed(const BYTE* body, DWORD length) {
    if (m_awaitingFileCheck) {
        // The receiver's whole-file check passed: the file is done. The
        // answer is taken by its token whatever number follows it (peers put
        // the last block's number there, the next one, or a constant 0).
        m_blockRetries = 0;
        m_link.sendToken(ID_DSVD_FINISHSENDING);
        finishSend(SEND_COMPLETE);
        if (m_sendKind == kFileKindCardPicture) {
            m_link.cardPictureSent();
        }
        return;
    }
    // A peer that numbers its blocks answers with the block's number: an
    // answer to another block is late or repeated and confirms nothing, or
    // the sender would run ahead of what really arrived.
    const std::optional<WORD> number = answerNumber(body, length);
    if (!answerCounts(number, m_inFlightNo)) {
        linkTrace(5, "CPacketConnection::OnBlockConfirmed() answer for block %u while %u is in flight: ignored",
                  static_cast<unsigned>(*number), static_cast<unsigned>(m_inFlightNo));
        return;
    }
    m_blockRetries = 0;
    m_confirmedOffset = m_sendOffset;
    m_confirmedBlocks = m_sendBlocks;
    m_confirmedFileChecksum = m_sendFileChecksum;
    setSendState(SEND_SENDING);
    sendBlock();
}

void FileTransfer::OnBlockRefused(const BYTE*, DWORD) {
    if (m_awaitingFileCheck) {
        // Taken by its token, as the check's passing answer is.
        linkTrace(1, "CPacketConnection::OnBlockRefused() the receiver's whole-file check failed for %s",
                  m_sendPath.c_str());
        finishSend(SEND_FAILED);
        return;
    }
    // The link core went back to the last confirmed block; send it again.
    if (++m_blockRetries > kBlockRetryLimit) {
        linkTrace(1, "CPacketConnection::OnBlockRefused() block at offset %ld refused %lu times: transfer ended",
                  static_cast<long>(m_confirmedOffset), static_cast<unsigned long>(kBlockRetryLimit));
        finishSend(SEND_FAILED);
        return;
    }
    sendBlock();
}

LONG FileTransfer::GetSendStatus(ULONGLONG* totalBytes, ULONGLONG* sentBytes, LONG* kind, LONG* rate,
                                 std::string* name) const {
    const LONG state = m_sendState;
    switch (state) {
    case SEND_IDLE: case SEND_USER_DISCONNECTING: case SEND_CLOSED:
        return state;
    case SEND_START:
        if (name) *name = m_sendPath;
        if (kind) *kind = m_sendKind;
        if (totalBytes) *totalBytes = 0;
        if (sentBytes) *sentBytes = 0;
        if (rate) *rate = 0;
        return 1;
    case SEND_ANNOUNCED: case SEND_SENDING: case WAIT_CRC_CONFIRM:
        if (totalBytes) *totalBytes = m_sendFileLength == 0 ? 1 : m_sendFileLength;
        if (sentBytes) *sentBytes = static_cast<ULONGLONG>(std::max<LONGLONG>(m_sendOffset, 0));
        if (kind) *kind = m_sendKind;
        if (name) *name = m_sendPath;
        if (rate) *rate = sendRate(m_sendRate, m_link.nowMs());
        return 3;
    case SEND_REFUSED: case SEND_COMPLETE: case SEND_FAILED: case SEND_STOPPED:
        if (name) *name = m_sendPath;
        if (kind) *kind = m_sendKind;
        return state;
    default:
        return 0;
    }
}

// ---- receiving ----

std::string FileTransfer::receiveTargetFolder(int kind, bool& ok) {
    ok = false;
    namespace fs = std::filesystem;
    std::error_code error;
    if (kind == kFileKindRemoteSettings) {
        fs::path folder = platform::programFolder() / "RSettings";
        fs::create_directories(folder, error);
        SiteInfoBlock site{};
        if (m_link.remoteSiteInfo(site)) {
            const std::string station = fixed_text::Read(site.siteName, sizeof site.siteName);
            if (!station.empty()) {
                if (!isSafeWireFileName(station)) {
                    linkTrace(1, "CPacketConnection::ConfirmOnSending() station name \"%s\" cannot name a folder",
                              station.c_str());
                    return {};
                }
                folder /= station;
                fs::create_directories(folder, error);
            }
        }
        ok = fs::is_directory(folder, error);
        return folder.string();
    }
    const std::string& folder =
        (kind == kFileKindCardPicture || kind == kFileKindSystemSettings) ? m_specialFolder : m_receiveFolder;
    ok = !folder.empty() && fs::is_directory(folder, error);
    return folder;
}

void FileTransfer::ConfirmOnSending(WORD tokenId, const BYTE* body, DWORD length) {
    if (m_recvState == REC_USER_DISCONNECTING) {
        return;
    }
    const auto announcement = parseAnnouncement(body, length);
    if (!announcement) {
        // Refused at once: a sender left without an answer waits a minute.
        linkTrace(1, "CPacketConnection::ConfirmOnSending() %s without a name or a size in bytes: refused",
                  tokenName(tokenId));
        m_link.sendToken(ID_DSVD_DO_NOT_SEND);
        return;
    }
    int kind = kFileKindAny;
    switch (tokenId) {
    case ID_DSVD_SEND_CF: kind = kFileKindCardPicture; break;
    case ID_DSVD_SEND_CB: kind = kFileKindClipboard; break;
    case ID_DSVD_SNDEVNT: case ID_DSVD_SEND_EV: kind = kFileKindEvent; break;
    case ID_DSVD_SNDEVLT: kind = kFileKindEventList; break;
    case ID_DSVD_SEND_RS: kind = kFileKindRemoteSettings; break;
    case ID_DSVD_SENDRSS: kind = kFileKindSystemSettings; break;
    default: break;
    }
    if (!isSafeWireFileName(announcement->name)) {
        linkTrace(1, "CPacketConnection::ConfirmOnSending() refused file name \"%.64s\": a plain name is required",
                  announcement->name.c_str());
        m_link.sendToken(ID_DSVD_DO_NOT_SEND);
        return;
    }
    bool folderOk = false;
    const std::string folder = receiveTargetFolder(kind, folderOk);
    if (!folderOk) {
        linkTrace(1, "CPacketConnection::ConfirmOnSending() no folder to receive %s into", announcement->name.c_str());
        m_link.sendToken(ID_DSVD_DO_NOT_SEND);
        return;
    }
    // A file the folder has no room for is refused at once, not after the
    // disk has filled; the user is told why.
    std::error_code spaceError;
    const std::filesystem::space_info space = std::filesystem::space(folder, spaceError);
    if (!spaceError && announcement->size > space.available) {
        linkTrace(1, "CPacketConnection::ConfirmOnSending() %s: %llu bytes announced, %llu free in %s: refused",
                  announcement->name.c_str(), static_cast<unsigned long long>(announcement->size),
                  static_cast<unsigned long long>(space.available), folder.c_str());
        m_link.notice(kStrDiskFull, announcement->name);
        m_link.sendToken(ID_DSVD_DO_NOT_SEND);
        return;
    }
    if (m_recvState == REC_RECEIVING) {
        linkTrace(3, "CPacketConnection::ConfirmOnSending() a new announcement ends the unfinished %s", m_recvName.c_str());
        tellReceiveEnded(REC_STOPPED);
    }
    closeReceiveFile();
    const std::filesystem::path finalPath =
        std::filesystem::path(folder) / (kind == kFileKindRemoteSettings ? std::string("SetList.Bin") : announcement->name);
    const std::string tempPath = finalPath.string() + ".part";
    // What an earlier receive of this name left (a killed one) goes first;
    // the file is then made new, never opened through whatever was there.
    std::error_code staleError;
    std::filesystem::remove(tempPath, staleError);
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    FilePtr file(fd >= 0 ? ::fdopen(fd, "wb") : nullptr);
    if (file == nullptr) {
        const int error = errno;
        if (fd >= 0) ::close(fd);
        linkTrace(1, "CPacketConnection::ConfirmOnSending() cannot create %s: %s", tempPath.c_str(), std::strerror(error));
        m_link.notice(writeFailureMessage(error), announcement->name);
        m_link.sendToken(ID_DSVD_DO_NOT_SEND);
        return;
    }
    m_recvFile = std::move(file);
    m_recvTempPath = tempPath;
    m_recvFinalPath = finalPath.string();
    m_recvName = announcement->name;
    m_recvFileKind = kind;
    m_recvAnnouncedBytes = announcement->size;
    m_recvBytes = 0;
    m_recvOffset = 0;
    m_recvPacketNo = 0;
    m_recvFirstBlock = true;
    m_recvFileChecksum = 0;
    m_recvChecked = false;
    m_recvFinishSeen = false;
    m_recvNotified = false;
    m_lastFileActivityMs = m_link.nowMs();
    m_recvRate = {m_lastFileActivityMs, 0};
    m_lastRecvRate = -1;
    setReceiveState(REC_RECEIVING);
    m_link.sendToken(ID_DSVD_OK_FOR_SEND);
}

void FileTransfer::failReceive(LONG state, bool tellPeer) {
    closeReceiveFile();
    m_recvFinalPath.clear();
    setReceiveState(state);
    if (tellPeer) {
        m_link.sendToken(ID_DSVD_DO_NOT_SEND);
    }
}

void FileTransfer::ReceiveData(const DecodedBucket& bucket) {
    if (m_recvState != REC_RECEIVING || m_recvFile == nullptr) {
        linkTrace(5, "CPacketConnection::ReceiveData() %lu bytes while no file is arriving: dropped",
                  static_cast<unsigned long>(bucket.BucketLen));
        return;
    }
    // Undo the escaping into the work buffer (never longer than the payload,
    // whose 16-bit length always fits it), summing the bytes on the way.
    LONG checksum = 0;
    const DWORD n = unescapeBlock(bucket.Payload, std::min<DWORD>(bucket.BucketLen, static_cast<DWORD>(m_workRead.size())),
                                  m_workRead.data(), checksum);
    m_lastFileActivityMs = m_link.nowMs();
    if (checksum != bucket.checkHeaderValue()) {
        linkTrace(1, "CPacketConnection::ReceiveData() ttCRC1 != tCRC2 CurrBucket.BucketNo=%ld",
                  static_cast<long>(bucket.BucketNo));
        sendBlockAnswer(ID_DSVD_CRCNOTOK, static_cast<WORD>(bucket.BucketNo));
        ++m_recvErrors;
        m_link.errorLamp();
        return;
    }
    const WORD number = static_cast<WORD>(bucket.BucketNo);
    if (m_link.peerProtocolNumber() >= 2) {
        if (m_recvFirstBlock && number == 0) {
            linkTrace(5, "CPacketConnection::ReceiveData() FileReceiving.PacketNo=%ld NEW packet:CurrBucket.BucketNo=0",
                      static_cast<long>(m_recvPacketNo));
        } else if (!m_recvFirstBlock && number == m_recvPacketNo) {
            linkTrace(5, "CPacketConnection::ReceiveData() received again CurrBucket.BucketNo=%ld", static_cast<long>(number));
            sendBlockAnswer(ID_DSVD_CRCOK, number);
            return;
        } else if (number != static_cast<WORD>(m_recvPacketNo + 1)) {
            // The numbers wrap at 16 bits on both sides alike.
            linkTrace(1, "CPacketConnection::ReceiveData() NEW packet:CurrBucket.BucketNo - 1=%ld != OLD PACKET:FileReceiving.PacketNo = %ld",
                      static_cast<long>(static_cast<WORD>(number - 1)), static_cast<long>(m_recvPacketNo));
            sendBlockAnswer(ID_DSVD_CRCNOTOK, number);
            return;
        } else {
            linkTrace(5, "CPacketConnection::ReceiveData() SUCCESS: CurrBucket.BucketNo=%ld", static_cast<long>(number));
        }
    }
    if (m_recvBytes + n > m_recvAnnouncedBytes) {
        linkTrace(1, "CPacketConnection::ReceiveData() %s: more bytes than the %llu announced: refused",
                  m_recvName.c_str(), static_cast<unsigned long long>(m_recvAnnouncedBytes));
        failReceive(REC_FAILED, true);
        return;
    }
    if (m_recvPending.empty()) m_recvPendingOffset = m_recvBytes;
    m_recvPending.insert(m_recvPending.end(), m_workRead.data(), m_workRead.data() + n);
    m_recvBytes += n;
    m_recvOffset = static_cast<LONGLONG>(m_recvBytes);
    m_recvPacketNo = number;
    m_recvFirstBlock = false;
    sendBlockAnswer(ID_DSVD_CRCOK, number);
    m_recvFileChecksum += static_cast<DWORD>(checksum);
    m_recvRate.bytes += n;
    // A full window goes to the file after the answer, so the sender is
    // already at its next block while this one is written. The answer vouches
    // for the block, as it does for every block still waiting in the window;
    // the file itself is kept only once the whole-file check passes.
    if (m_recvPending.size() >= kReceiveWindowBytes && !flushReceived()) {
        // A failed write is a failed transfer: the partial file goes.
        failReceive(REC_FAILED, true);
    }
}

bool FileTransfer::flushReceived() {
    if (m_recvPending.empty()) return true;
    errno = 0;
    const bool written = m_recvFile != nullptr && writeAt(m_recvFile.get(), m_recvPending.data(), m_recvPending.size(),
                                                          static_cast<off_t>(m_recvPendingOffset));
    if (!written) {
        const int error = errno;
        linkTrace(1, "CPacketConnection::ReceiveData() writing %s failed: %s", m_recvTempPath.c_str(), std::strerror(error));
        m_link.notice(writeFailureMessage(error), m_recvName);
    }
    m_recvPending.clear();
    return written;
}

bool FileTransfer::commitReceivedFile() {
    if (!flushReceived()) return false;
    // The close is checked (it writes what stdio still held), so the file is
    // taken out of its owner rather than closed by it.
    std::FILE* file = m_recvFile.release();
    const bool closed = file != nullptr && std::fclose(file) == 0;
    std::error_code error;
    if (closed) {
        std::filesystem::rename(m_recvTempPath, m_recvFinalPath, error);
    }
    if (!closed || error) {
        linkTrace(1, "CPacketConnection::ConfirmOnCRC() %s cannot be stored: %s", m_recvFinalPath.c_str(),
                  error ? error.message().c_str() : "close failed");
        return false;
    }
    m_recvTempPath.clear();
    m_receivedFilePath = m_recvFinalPath;
    return true;
}

void FileTransfer::ConfirmOnCRC(const BYTE* body, DWORD length) {
    const auto value = readFileChecksum(body, length);
    if (m_recvState == REC_COMPLETE && m_recvChecked) {
        // The sender repeats its check when our answer was lost.
        sendBlockAnswer(value && *value == m_recvFileChecksum ? ID_DSVD_CRCOK : ID_DSVD_CRCNOTOK,
                        static_cast<WORD>(m_recvPacketNo + 1));
        return;
    }
    if (m_recvState != REC_RECEIVING) {
        linkTrace(3, "CPacketConnection::ConfirmOnCRC() no file is arriving");
        return;
    }
    if (!value) {
        linkTrace(1, "CPacketConnection::ConfirmOnCRC() no checksum behind the token: dropped");
        return;
    }
    const bool whole = *value == m_recvFileChecksum && m_recvBytes == m_recvAnnouncedBytes;
    if (!whole || !commitReceivedFile()) {
        sendBlockAnswer(ID_DSVD_CRCNOTOK, static_cast<WORD>(m_recvPacketNo + 1));
        linkTrace(1, "CPacketConnection::ConfirmOnCRC() CRC err in receiving\n");
        const std::string name = m_recvName;
        failReceive(REC_FAILED, false);
        m_link.notice(kStrFileCheckFailed, name);
        return;
    }
    sendBlockAnswer(ID_DSVD_CRCOK, static_cast<WORD>(m_recvPacketNo + 1));
    setReceiveState(REC_COMPLETE);
    m_recvChecked = true;
    if (m_recvFinishSeen) {
        OnFinishSending();
    }
}

void FileTransfer::OnFinishSending() {
    switch (m_recvState) {
    case REC_RECEIVING:
        // The whole-file check has not come yet; the file completes with it.
        m_recvFinishSeen = true;
        return;
    case REC_COMPLETE:
        if (!m_recvChecked || m_recvNotified) {
            return;
        }
        break;
    case REC_IDLE:
    case REC_READY:
        if (m_recvChecked && !m_recvNotified) {
            // The file passed its whole-file check before this token came and
            // the loop pass has already reported it (and made the link ready):
            // it is still to be told, once.
            break;
        }
        // No file is arriving: the state moves on, but a stray token never
        // announces a file the application would then look for.
        closeReceiveFile();
        setReceiveState(REC_COMPLETE);
        return;
    default:
        linkTrace(3, "CPacketConnection::OnFinishSending() receive state %ld: ignored", static_cast<long>(m_recvState));
        return;
    }
    m_recvNotified = true;
    tellReceiveEnded(REC_COMPLETE);
    static constexpr UINT kByKind[] = {0, kMsgFileReceivedKind1, kMsgFileReceivedKind2, kMsgFileReceivedKind3,
                                       kMsgFileReceivedKind4};
    if (m_recvFileKind >= 1 && m_recvFileKind <= 4) {
        m_link.post(kByKind[m_recvFileKind], 0, 0);
    }
    if (m_recvFileKind == kFileKindCardPicture && m_recvChecked) {
        m_link.cardPictureReceived(m_receivedFilePath);
    }
}

LONG FileTransfer::SetReceiveStatus(LONG command, const char* text) {
    switch (command) {
    case 1:
        if (m_recvState == REC_RECEIVING) {
            return 0;
        }
        setReceiveState(REC_READY);
        // Re-arming into the same folder (the transfer window does so on every
        // pass) leaves its files alone: a ".part" there may be another
        // program's receive under way.
        if (text != nullptr && text[0] != 0 && m_receiveFolder != text) {
            m_receiveFolder = text;
            removeStaleParts(m_receiveFolder);
        }
        return 1;
    case 0:
        if (m_recvState == REC_RECEIVING) {
            failReceive(REC_WAIT_USER, true);
        }
        return 1;
    case 9:
        closeReceiveFile();
        m_recvFinalPath.clear();
        setReceiveState(REC_CANCEL);
        return 0;
    default:
        return 0;
    }
}

LONG FileTransfer::GetReceiveStatus(ULONGLONG* totalBytes, ULONGLONG* receivedBytes, LONG* kind, LONG* rate,
                                    std::string* name) const {
    const LONG state = m_recvState;
    auto outputs = [&] {
        if (totalBytes) *totalBytes = m_recvAnnouncedBytes == 0 ? 1 : m_recvAnnouncedBytes;
        if (receivedBytes) *receivedBytes = m_recvBytes;
        if (kind) *kind = m_recvFileKind;
        if (name) *name = m_recvName;
    };
    switch (state) {
    case REC_READY: case 6: case REC_CANCEL: case REC_USER_DISCONNECTING:
        return state;
    case REC_RECEIVING:
        outputs();
        receiveRate(m_recvRate, m_link.nowMs(), m_lastRecvRate);
        if (rate) *rate = m_lastRecvRate;
        return REC_RECEIVING;
    case REC_COMPLETE: case REC_STOPPED: case REC_WAIT_USER: case REC_FAILED:
        // A final state stays until the side is made ready again
        // (SetReceiveStatus); its file was closed when it was reached.
        outputs();
        if (rate) *rate = m_lastRecvRate;
        return state;
    default:
        return 0;
    }
}

void FileTransfer::GetTransferSizes(ULONGLONG& sentSize, ULONGLONG& receivedSize) const {
    const bool sending = m_sendState == SEND_ANNOUNCED || m_sendState == SEND_SENDING || m_sendState == WAIT_CRC_CONFIRM;
    sentSize = sending ? m_sendFileLength : 0;
    receivedSize = m_recvState == REC_RECEIVING ? m_recvAnnouncedBytes : 0;
}

void FileTransfer::GetTransferProgress(int which, ULONGLONG& bytes, DWORD& elapsedMs) {
    bytes = 0;
    elapsedMs = 0;
    if (which == 0) {
        if (m_sendState == SEND_ANNOUNCED || m_sendState == SEND_SENDING || m_sendState == WAIT_CRC_CONFIRM) {
            bytes = m_sendRate.bytes;
            elapsedMs = m_link.nowMs() - m_sendRate.startMs;
        }
    } else if (m_recvState == REC_RECEIVING) {
        bytes = m_recvRate.bytes;
        elapsedMs = m_link.nowMs() - m_recvRate.startMs;
    }
}

void FileTransfer::GetErrorCounts(DWORD& sendRetries, DWORD& receiveErrors) {
    sendRetries = m_retryCount;
    receiveErrors = m_recvErrors;
}

bool FileTransfer::GetReceivedFileName(std::string& path) {
    if (m_receivedFilePath.empty()) {
        return false;
    }
    path = m_receivedFilePath;
    return true;
}

}  // namespace trennick
