#include "platform/x11/X11ClipboardWorker.h"

#include "base/Utf8.h"

#include <algorithm>
#include <string_view>

namespace varnel {

namespace {

// ---- text encodings -----------------------------------------------------------------------------------

// Each maximal ill-formed subsequence becomes one U+FFFD.
std::u16string utf8ToUtf16(std::string_view in) {
    std::u16string out;
    DecodeUtf8(in, out, Utf8Errors::Replace);
    return out;
}

std::u16string latin1ToUtf16(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    for (const char c : in) {
        out.push_back(static_cast<unsigned char>(c));
    }
    return out;
}

}  // namespace

// ---- other clients' text ------------------------------------------------------------------------------

void X11Clipboard::Worker::onOwnerChange(const XFixesSelectionNotifyEvent& event) {
    if (event.selection != atoms_.selection[SelClipboard]) {
        return;
    }
    if (event.owner == window_) {
        cancelFetch(SelClipboard);  // our own setText; the snapshot already holds the text
        return;
    }
    // The server tells the old owner before anyone else, so while we still own the clipboard this event
    // is older than our ownership.
    if (owned_[SelClipboard].active) {
        return;
    }
    cancelFetch(SelClipboard);
    if (event.owner == None) {
        if (event.selection_timestamp == releasedAt_) {
            return;  // our own clear(); the snapshot already says so
        }
        {
            std::lock_guard lock(mutex_);  // the owner went away
            ++snap_.generation;
            snap_.hasText = false;
            snap_.failed = false;
            snap_.fetching = false;
            snap_.text.reset();
        }
        notifyListener();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        ++snap_.foreignChanges;
        snap_.foreignOwnerClient = clientOf(event.owner);
        snap_.fetching = true;
    }
    startFetch(SelClipboard, event.timestamp,
               [this](FetchResult result) { applyClipboardFetch(std::move(result)); });
}

void X11Clipboard::Worker::applyClipboardFetch(FetchResult result) {
    if (result.outcome == Outcome::Cancelled) {
        return;  // a newer owner change or our own setText/clear decides the snapshot
    }
    auto text = result.outcome == Outcome::Text
                    ? std::make_shared<const std::u16string>(std::move(result.text))
                    : nullptr;
    {
        std::lock_guard lock(mutex_);
        ++snap_.generation;
        snap_.fetching = false;
        snap_.failed = result.outcome == Outcome::Failed;
        snap_.hasText = result.outcome == Outcome::Text;
        snap_.text = std::move(text);
    }
    notifyListener();
}

void X11Clipboard::Worker::startFetch(int sel, Time time, std::function<void(FetchResult)> done) {
    cancelFetch(sel);
    Fetch fetch;
    fetch.time = time;
    fetch.done = std::move(done);
    fetch_[sel] = std::move(fetch);
    requestTarget(*fetch_[sel], sel, atoms_.utf8);
}

void X11Clipboard::Worker::requestTarget(Fetch& fetch, int sel, Atom target) {
    fetch.target = target;
    // A fresh property per request: a late answer to an earlier request lands elsewhere.
    fetch.property = atoms_.requestProperty[nextRequestProperty_++ % RequestPropertyCount];
    fetch.incr = false;
    fetch.incrType = None;
    fetch.received = 0;
    fetch.streaming = false;
    fetch.decoded = {};
    fetch.data = {};
    fetch.deadline = Clock::now() + FetchStepBound;
    XDeleteProperty(display_, window_, fetch.property);
    XConvertSelection(display_, atoms_.selection[sel], target, fetch.property, window_, fetch.time);
    XFlush(display_);
    conversions_.fetch_add(1, std::memory_order_relaxed);
}

void X11Clipboard::Worker::cancelFetch(int sel) {
    if (fetch_[sel]) {
        finishFetch(sel, FetchResult{Outcome::Cancelled, {}});
    }
}

void X11Clipboard::Worker::finishFetch(int sel, FetchResult result) {
    if (!fetch_[sel]) {
        return;
    }
    auto done = std::move(fetch_[sel]->done);
    XDeleteProperty(display_, window_, fetch_[sel]->property);
    fetch_[sel].reset();
    // The text is kept for as long as it stays on the clipboard, and longer in a slot: without the
    // spare room its growth left (up to as much again), once that is worth a copy.
    if (result.text.capacity() - result.text.size() > result.text.size() / 8 + 64) {
        result.text.shrink_to_fit();
    }
    if (done) {
        done(std::move(result));
    }
}

// The owner refused the target we asked for (or its answer was unusable): try the next text target.
void X11Clipboard::Worker::advanceFetch(int sel, bool refused) {
    Fetch& fetch = *fetch_[sel];
    if (fetch.stage == Stage::Utf8 && refused) {
        fetch.stage = Stage::Targets;
        requestTarget(fetch, sel, atoms_.targets);
        return;
    }
    if (fetch.stage == Stage::Targets) {
        // TARGETS itself refused: the owner may still convert to STRING.
        fetch.stage = Stage::Fallback;
        requestTarget(fetch, sel, XA_STRING);
        return;
    }
    finishFetch(sel, FetchResult{refused ? Outcome::NoText : Outcome::Failed, {}});
}

void X11Clipboard::Worker::onSelectionNotify(const XSelectionEvent& event) {
    if (event.requestor != window_) {
        return;
    }
    if (handOver_ && event.selection == atoms_.clipboardManager && event.target == atoms_.saveTargets) {
        finishHandOver(event.property != None ? Status::success()
                                              : Status::failure("the clipboard manager refused the text"));
        return;
    }
    const int sel = selectionIndex(event.selection);
    if (sel < 0 || !fetch_[sel] || fetch_[sel]->incr) {
        return;
    }
    Fetch& fetch = *fetch_[sel];
    // Match the answer to the request, so that a late answer is never taken for the current one.
    if (event.target != fetch.target || (event.time != fetch.time && event.time != CurrentTime)) {
        return;
    }
    if (event.property == None) {
        advanceFetch(sel, true);
        return;
    }
    if (event.property != fetch.property) {
        return;
    }
    Atom type = None;
    int format = 0;
    std::string data;
    std::vector<Atom> atoms;
    long announced = 0;
    if (!readProperty(fetch.property, type, format, data, fetch.stage == Stage::Targets ? &atoms : nullptr,
                      &announced)) {
        finishFetch(sel, FetchResult{Outcome::Failed, {}});
        return;
    }
    if (type == atoms_.incr) {
        // The owner sends the text in pieces; reading the INCR property deleted it, which asks for the first.
        // The announced size is only the owner's word: it sets the time allowed for the whole transfer
        // (within the limit of what we take in at all) and nothing else.
        const auto size =
            std::min<std::size_t>(static_cast<std::size_t>(std::max(announced, 0L)), MaxIncomingBytes);
        fetch.incr = true;
        fetch.incrType = None;
        const auto now = Clock::now();
        fetch.incrDeadline = now + IncrBaseBound + milliseconds(size * 1000 / IncrMinimumRate);
        fetch.deadline = std::min(now + FetchStepBound, fetch.incrDeadline);
        return;
    }
    if (fetch.stage == Stage::Targets) {
        if (type != XA_ATOM && type != atoms_.targets) {
            advanceFetch(sel, true);
            return;
        }
        auto offers = [&atoms](Atom a) { return std::find(atoms.begin(), atoms.end(), a) != atoms.end(); };
        Atom next = None;
        if (offers(atoms_.mimeUtf8)) {
            next = atoms_.mimeUtf8;
        } else if (offers(XA_STRING)) {
            next = XA_STRING;
        } else if (offers(atoms_.text)) {
            next = atoms_.text;
        }
        if (next == None) {
            finishFetch(sel, FetchResult{Outcome::NoText, {}});  // images, files and the like only
            return;
        }
        fetch.stage = Stage::Fallback;
        requestTarget(fetch, sel, next);
        return;
    }
    finishWithData(sel, type, format, std::move(data));
}

// Some owners answer every target with their one kind of data (xclip -t image/png does): only the type of
// the answer tells whether it is text.
bool X11Clipboard::Worker::isTextType(Atom type) const {
    return type == atoms_.utf8 || type == XA_STRING || type == atoms_.text || type == atoms_.compoundText ||
           type == atoms_.mimeUtf8;
}

void X11Clipboard::Worker::finishWithData(int sel, Atom type, int format, std::string data) {
    if (!isTextType(type)) {
        advanceFetch(sel, true);
        return;
    }
    if (format != 8) {
        finishFetch(sel, FetchResult{Outcome::Failed, {}});
        return;
    }
    FetchResult result{Outcome::Text, {}};
    if (type == XA_STRING) {
        result.text = latin1ToUtf16(data);
    } else if (type == atoms_.compoundText) {
        XTextProperty property{reinterpret_cast<unsigned char*>(data.data()), type, 8, data.size()};
        char** list = nullptr;
        int count = 0;
        if (Xutf8TextPropertyToTextList(display_, &property, &list, &count) < Success || list == nullptr) {
            finishFetch(sel, FetchResult{Outcome::Failed, {}});
            return;
        }
        std::string joined;
        for (int i = 0; i < count; ++i) {
            joined += list[i];
        }
        XFreeStringList(list);
        result.text = utf8ToUtf16(joined);
    } else {
        result.text = utf8ToUtf16(data);  // UTF8_STRING and the UTF-8 MIME type
    }
    finishFetch(sel, std::move(result));
}

// Reads and deletes a property of our window whole. Format-32 data arrives as longs; atoms, if asked for,
// are returned separately.
bool X11Clipboard::Worker::readProperty(Atom property, Atom& type, int& format, std::string& data,
                                        std::vector<Atom>* atoms, long* incrSize, unsigned long* itemCount) {
    unsigned long items = 0, after = 0;
    unsigned char* raw = nullptr;
    const long maxLongs = static_cast<long>(MaxIncomingBytes / 4) + 1;
    const X11ErrorTrap trap(*errors_);
    const int rc = XGetWindowProperty(display_, window_, property, 0, maxLongs, True, AnyPropertyType, &type,
                                      &format, &items, &after, &raw);
    std::unique_ptr<unsigned char, int (*)(void*)> owner(raw, XFree);
    if (rc != Success || trap.caught() || type == None || after != 0) {
        return false;
    }
    if (format == 8) {
        data.assign(reinterpret_cast<const char*>(raw), items);
    } else if (format == 32 && atoms != nullptr) {
        const auto* longs = reinterpret_cast<const long*>(raw);
        atoms->assign(longs, longs + items);
    } else if (format == 32 && type == atoms_.incr) {
        if (incrSize != nullptr && items > 0) {
            *incrSize = *reinterpret_cast<const long*>(raw);
        }
    } else {
        data.clear();
    }
    if (itemCount != nullptr) {
        *itemCount = items;
    }
    return true;
}

// Decodes a chunk onto what came before. A UTF-8 sequence that the chunk's end cuts is kept for the next
// chunk (in fetch.data), so the text decodes exactly as it would have in one piece.
void X11Clipboard::Worker::appendDecoded(Fetch& fetch, std::string chunk, bool last) {
    if (fetch.incrType == XA_STRING) {
        fetch.decoded += latin1ToUtf16(chunk);
        return;
    }
    std::string bytes = std::move(fetch.data);
    bytes += chunk;
    chunk = {};
    std::size_t keep = 0;
    if (!last) {
        for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
            const auto c = static_cast<unsigned char>(bytes[bytes.size() - back]);
            if (c < 0x80) {
                break;
            }
            if (c >= 0xC0) {  // a lead byte: kept when its sequence needs more than the bytes left
                const std::size_t length = 1 + static_cast<std::size_t>(ReadUtf8Lead(c).continuations);
                keep = length > back ? back : 0;
                break;
            }
        }
    }
    fetch.data.assign(bytes, bytes.size() - keep, keep);
    bytes.resize(bytes.size() - keep);
    fetch.decoded += utf8ToUtf16(bytes);
}

void X11Clipboard::Worker::onPropertyNotify(const XPropertyEvent& event) {
    if (event.window != window_) {
        // A requestor took an INCR chunk of ours.
        if (event.state != PropertyDelete) {
            return;
        }
        if (const auto index = findTransfer(event.window, event.atom)) {
            if (!sendNextChunk(transfers_[*index])) {
                endTransfer(*index, EndReason::Done);
            }
            XFlush(display_);
        }
        return;
    }
    if (event.state != PropertyNewValue) {
        return;
    }
    for (int sel = 0; sel < SelCount; ++sel) {
        if (!fetch_[sel] || !fetch_[sel]->incr || fetch_[sel]->property != event.atom) {
            continue;
        }
        Fetch& fetch = *fetch_[sel];
        Atom type = None;
        int format = 0;
        std::string chunk;
        unsigned long items = 0;
        // A chunk in 16- or 32-bit format fails the read: only an empty property ends the transfer.
        if (!readProperty(fetch.property, type, format, chunk, nullptr, nullptr, &items) ||
            (format != 8 && items != 0) || fetch.received + chunk.size() > MaxIncomingBytes ||
            (items != 0 && fetch.incrType != None && type != fetch.incrType)) {
            finishFetch(sel, FetchResult{Outcome::Failed, {}});
            return;
        }
        if (items == 0) {  // the end of the transfer
            if (fetch.streaming) {
                // A sequence cut off by the end is ill-formed: it decodes to U+FFFD.
                appendDecoded(fetch, std::move(fetch.data), true);
                finishFetch(sel, FetchResult{Outcome::Text, std::move(fetch.decoded)});
            } else {
                finishWithData(sel, fetch.incrType == None ? atoms_.utf8 : fetch.incrType, 8,
                               std::move(fetch.data));
            }
            return;
        }
        if (fetch.incrType == None) {
            if (!isTextType(type)) {
                advanceFetch(sel, true);  // not text: no need to take it in
                return;
            }
            fetch.incrType = type;
            // UTF-8 and Latin-1 are decoded as they come, so the bytes are never held whole. Memory grows
            // with what has arrived, never with what the owner announced.
            fetch.streaming = type == atoms_.utf8 || type == atoms_.mimeUtf8 || type == XA_STRING;
        }
        fetch.received += chunk.size();
        if (fetch.streaming) {
            appendDecoded(fetch, std::move(chunk), false);
        } else {
            fetch.data += chunk;
        }
        fetch.deadline = std::min(Clock::now() + FetchStepBound, fetch.incrDeadline);
        return;
    }
}

}  // namespace varnel
