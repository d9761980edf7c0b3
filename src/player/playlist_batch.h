// The playlist batch: a private message by which a thread of this process
// gets the file paths and titles of many playlist entries with one
// cross-thread send instead of two or three per entry.
//
// The sender (PlayerHost::GetPlaylistBatch, the cache rebuild) fills a
// PlaylistBatch with the range wanted and room for the answers, and sends
// the registered message kPlaylistBatchMessageName to the player's main
// window with the batch's address in lParam (same process: the address is
// valid on the other thread). The plug-in's hook on that window answers it
// on the player's user-interface thread (PlayerChannel::AnswerPlaylistBatch):
// for each entry it asks the player, by direct calls on its own thread, for
// the file (211) and the title (212), and for the wide title (214) when the
// title holds "?", copying each answer out of the player's shared buffer
// before the next question, and returns kPlaylistBatchAnswered. A window
// without the hook answers the registered message 0, as every window
// answers a message it does not know: the sender then asks entry by entry.
//
// Any process can send a registered message to the player's window, with
// any lParam: the sender announces its batch's address for the time of the
// send, and the answerer answers 0, touching nothing, for any other.
//
// The answerer writes only into the room the sender made (it allocates
// nothing, so it cannot fail on the user-interface thread); it stops early
// when the next entry's texts do not fit, and says how many entries it
// filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ambervox {

// The registered message's name: the same in every module that uses it.
constexpr const char kPlaylistBatchMessageName[] = "Ambervox.PlaylistBatch.5A3E1C77-0B64-4D2F-9E81-6F0D2B94C3A8";
// What the answerer returns: anything else (0 from a window that does not
// know the message) means the batch was not answered.
constexpr std::intptr_t kPlaylistBatchAnswered = 0x41564231;  // "AVB1"

// Marks a text the player answered no address for.
constexpr std::uint32_t kNoPlayerText = 0xFFFFFFFFu;

// Where the answers for one entry lie in PlaylistBatch::text: byte offset
// and length (bytes for the file and title, UTF-16 units for the wide
// title, stored unaligned), or length kNoPlayerText when the player
// answered no address. The wide title is asked, and present, only when the
// title holds "?".
struct PlaylistBatchEntry {
  std::uint32_t fileOffset = 0;
  std::uint32_t fileLength = kNoPlayerText;
  std::uint32_t titleOffset = 0;
  std::uint32_t titleLength = kNoPlayerText;
  std::uint32_t wideTitleOffset = 0;
  std::uint32_t wideTitleLength = kNoPlayerText;
};

struct PlaylistBatch {
  // Entries per batch and room for their texts. An entry's texts fill at
  // most three of the player's buffers, far below the room.
  static constexpr std::size_t kMaxEntries = 1024;
  static constexpr std::size_t kTextCapacity = 256 * 1024;

  // Set by the sender: the first index, the number of entries wanted (at
  // most entries.size()), and the room (entries and text sized by the
  // sender; the answerer never resizes them).
  int first = 0;
  int count = 0;
  std::vector<PlaylistBatchEntry> entries;
  std::vector<char> text;
  // Set by the answerer: entries [first, first + answered) are filled.
  int answered = 0;
};

}  // namespace ambervox
