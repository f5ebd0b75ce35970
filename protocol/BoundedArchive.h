// Text input archives whose memory grows with what they read, never with a
// count or length they have not read yet. Same text format as boost's text
// archives. A collection count or string length larger than the rest of the
// input throws archive_exception (input_stream_error) before anything is
// allocated from it; collections are then read element by element, so a
// count that passes that check but is followed by too few elements costs
// only the elements actually there. The input must be a string stream
// (in_avail() is then exactly the characters left).
#pragma once

#include <boost/archive/archive_exception.hpp>
#include <boost/archive/detail/interface_iarchive.hpp>
#include <boost/archive/detail/iserializer.hpp>
#include <boost/serialization/collection_size_type.hpp>
#include <boost/serialization/item_version_type.hpp>
#include <boost/serialization/library_version_type.hpp>
#include <boost/serialization/nvp.hpp>

#include <cstddef>
#include <ios>
#include <istream>
#include <streambuf>
#include <list>
#include <string>
#include <type_traits>
#include <vector>

namespace HVO {

namespace bounded {

/// Characters left in the stream's buffer (0 at the end).
template <class IStream> std::size_t charsLeft(IStream& is)
{
    const std::streamsize n = is.rdbuf() ? is.rdbuf()->in_avail() : 0;
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

template <class CharT> struct view_buf : std::basic_streambuf<CharT> {
    view_buf(const CharT* b, const CharT* e)
    {
        // The buffer only reads.
        this->setg(const_cast<CharT*>(b), const_cast<CharT*>(b), const_cast<CharT*>(e));
    }
};

/// An input stream over characters it does not own (they must outlive it),
/// so that a whole input is read without a copy; in_avail() is what is left.
template <class CharT> class view_istream : private view_buf<CharT>, public std::basic_istream<CharT> {
public:
    view_istream(const CharT* data, std::size_t size)
        : view_buf<CharT>(data, data + size), std::basic_istream<CharT>(static_cast<view_buf<CharT>*>(this))
    {
    }
    using std::basic_istream<CharT>::imbue;
};

/// Throws when `count` units of `unit` characters each do not fit in what is left.
template <class IStream> void check(IStream& is, std::size_t count, std::size_t unit = 1)
{
    if (count > charsLeft(is) / unit)
        throw boost::archive::archive_exception(boost::archive::archive_exception::input_stream_error);
}

/// The text input archive `Archive` (the final class, for boost's
/// dispatch) over boost's implementation `Impl` (text_iarchive_impl or
/// text_wiarchive_impl of `Archive`) reading `CharT`. Narrow strings in a wide archive
/// travel one character per byte, wide strings in a narrow archive as
/// their raw 32-bit units, as boost writes them.
template <class Archive, class Impl, class CharT> class text_iarchive : public Impl {
protected:
    using char_type = CharT;
    static constexpr bool wide = std::is_same<char_type, wchar_t>::value;

    text_iarchive(std::basic_istream<CharT>& is, unsigned int flags) : Impl(is, flags) {}

    friend class boost::archive::detail::interface_iarchive<Archive>;
    friend class boost::archive::load_access;

    using Impl::load;
    void load(boost::serialization::collection_size_type& t)
    {
        Impl::load(t);
        check(this->is, t);
    }
    void load(std::string& s)
    {
        const std::size_t size = lengthField();
        check(this->is, size);
        if constexpr (wide) {
            s.resize(0);
            s.reserve(size);
            for (std::size_t i = 0; i < size; ++i)
                s += this->is.narrow(this->is.get(), '\0');
        } else {
            s.resize(size);
            if (size > 0)
                this->is.read(&s[0], static_cast<std::streamsize>(size));
        }
    }
    void load(std::wstring& ws)
    {
        const std::size_t size = lengthField();
        constexpr std::size_t unit = wide ? 1 : sizeof(wchar_t) / sizeof(char_type);
        check(this->is, size, unit);
        ws.resize(size);
        if (size > 0)
            this->is.read(reinterpret_cast<char_type*>(&ws[0]), static_cast<std::streamsize>(size * unit));
    }

private:
    // A string's length and the space that separates it from its characters.
    std::size_t lengthField()
    {
        std::size_t size;
        *this->This() >> size;
        this->is.get();
        return size;
    }
};

/// Reads a sequence element by element, each default-constructed in place
/// at the end and then read: the container holds only what was read. An
/// element is moved when a vector grows, so element types must not be
/// tracked through pointers elsewhere in the same archive (none of the
/// payload or rule-file records are).
template <class Archive, class Sequence> void loadSequence(Archive& ar, Sequence& t)
{
    using boost::serialization::make_nvp;
    static_assert(std::is_default_constructible<typename Sequence::value_type>::value,
                  "elements are read in place");
    boost::serialization::collection_size_type count;
    ar >> make_nvp("count", count);
    boost::serialization::item_version_type item_version(0);
    if (boost::serialization::library_version_type(3) < ar.get_library_version())
        ar >> make_nvp("item_version", item_version);
    t.clear();
    for (std::size_t i = 0; i < count; ++i) {
        t.emplace_back();
        ar >> make_nvp("item", t.back());
    }
}

} // namespace bounded

// Found by argument-dependent lookup from boost's collection loaders, and
// preferred over them as more specialised, for the archives below.
#define HVO_BOUNDED_SEQUENCES(Archive)                                                                   \
    template <class U, class A> void load(Archive& ar, std::vector<U, A>& t, const unsigned int)         \
    {                                                                                                    \
        bounded::loadSequence(ar, t);                                                                    \
    }                                                                                                    \
    template <class U, class A> void load(Archive& ar, std::list<U, A>& t, const unsigned int)           \
    {                                                                                                    \
        bounded::loadSequence(ar, t);                                                                    \
    }

} // namespace HVO
