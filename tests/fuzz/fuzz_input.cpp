#include "fuzz_input.hpp"

#include <stdexcept>

namespace {

class byte_reader {
  public:
    byte_reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <typename Number>
    void number(Number& value) {
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < sizeof(Number); ++i) {
            bits |= std::uint64_t{next()} << (8 * i);
        }
        value = static_cast<Number>(bits);
    }

    template <typename Entry, typename Visit>
    void list(std::vector<Entry>& entries, std::size_t max, Visit visit) {
        entries.resize(next() % (max + 1));
        for (Entry& entry : entries) {
            visit(*this, entry);
        }
    }

    void text(std::string& value, std::size_t max) {
        value.resize(next() % (max + 1));
        for (char& c : value) {
            c = static_cast<char>(next());
        }
    }

    void rest(std::vector<std::uint8_t>& bytes) {
        bytes.assign(data_ + at_, data_ + size_);
        at_ = size_;
    }

  private:
    std::uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

class byte_writer {
  public:
    template <typename Number>
    void number(const Number& value) {
        for (std::size_t i = 0; i < sizeof(Number); ++i) {
            bytes.push_back(static_cast<std::uint8_t>(std::uint64_t{value} >> (8 * i)));
        }
    }

    template <typename Entry, typename Visit>
    void list(const std::vector<Entry>& entries, std::size_t max, Visit visit) {
        count(entries.size(), max);
        for (const Entry& entry : entries) {
            visit(*this, entry);
        }
    }

    void text(const std::string& value, std::size_t max) {
        count(value.size(), max);
        bytes.insert(bytes.end(), value.begin(), value.end());
    }

    void rest(const std::vector<std::uint8_t>& content) {
        bytes.insert(bytes.end(), content.begin(), content.end());
    }

    std::vector<std::uint8_t> bytes;

  private:
    void count(std::size_t n, std::size_t max) {
        if (n > max) {
            throw std::length_error("more entries than the input layout holds");
        }
        bytes.push_back(static_cast<std::uint8_t>(n));
    }
};

// The layout, field by field; the same walk reads and writes.
template <typename Io, typename Input>
void walk(Io& io, Input& in) {
    io.number(in.flags);
    io.number(in.cap_errno);
    io.number(in.prime_cap);
    io.number(in.resources_errno);
    io.list(in.crtcs, max_crtcs, [](Io& io, auto& crtc) {
        io.number(crtc.buffer_id);
        io.number(crtc.unreadable);
    });
    io.number(in.plane_resources_errno);
    io.list(in.planes, max_planes, [](Io& io, auto& plane) {
        io.number(plane.crtc_id);
        io.number(plane.fb_id);
        io.number(plane.unreadable);
    });
    io.number(in.fb_id);
    io.number(in.width);
    io.number(in.height);
    io.number(in.format_choice);
    io.number(in.format);
    io.number(in.modifier_choice);
    io.number(in.modifier);
    io.number(in.pitch_extra);
    io.number(in.offset);
    io.number(in.handle);
    io.number(in.export_errno);
    io.number(in.sync_errno);
    io.number(in.size_choice);
    io.number(in.size_delta);
    io.number(in.drop_errno);
    io.number(in.chown_errno);
    io.text(in.sudo_uid, max_sudo_text);
    io.text(in.sudo_gid, max_sudo_text);
    io.list(in.later_reads, max_later_reads, [](Io& io, auto& choice) { io.number(choice); });
    io.number(in.other_width);
    io.number(in.other_height);
    io.number(in.other_format_choice);
    io.number(in.other_export_errno);
    io.rest(in.content);
}

}  // namespace

raw_input decode_input(const std::uint8_t* data, std::size_t size) {
    byte_reader reader(data, size);
    raw_input input;
    walk(reader, input);
    return input;
}

std::vector<std::uint8_t> encode_input(const raw_input& input) {
    byte_writer writer;
    walk(writer, input);
    return writer.bytes;
}
