#include "model.h"

#include "iges.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>

namespace view {

// ------------------------------------------------------------------ ids

void IdIndex::Build(const std::vector<int>& ids)
{
    dense_.clear();
    sorted_.clear();
    if (ids.empty()) return;
    const auto [lo, hi] = std::minmax_element(ids.begin(), ids.end());
    const long long span = static_cast<long long>(*hi) - *lo + 1;
    if (span <= 4LL * static_cast<long long>(ids.size()) + 4096) {
        min_ = *lo;
        dense_.assign(static_cast<std::size_t>(span), -1);
        for (std::size_t k = 0; k < ids.size(); ++k) dense_[static_cast<std::size_t>(ids[k] - min_)] = static_cast<int>(k);
        return;
    }
    sorted_.reserve(ids.size());
    for (std::size_t k = 0; k < ids.size(); ++k) sorted_.emplace_back(ids[k], static_cast<int>(k));
    std::sort(sorted_.begin(), sorted_.end());
}

int IdIndex::Find(int id) const
{
    if (!dense_.empty()) {
        const long long k = static_cast<long long>(id) - min_;
        return k < 0 || k >= static_cast<long long>(dense_.size()) ? -1 : dense_[static_cast<std::size_t>(k)];
    }
    const auto it = std::lower_bound(sorted_.begin(), sorted_.end(), std::make_pair(id, std::numeric_limits<int>::min()));
    return it != sorted_.end() && it->first == id ? it->second : -1;
}

namespace {

// ------------------------------------------------------------------ lines

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Lines of a file of any size through one fixed buffer: memory does not grow
// with the file, only with its longest line.
class LineReader {
public:
    explicit LineReader(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "rb")), buffer_(1 << 22)
    {
        if (!file_) throw InputError("cannot open " + path + ": " + std::strerror(errno));
    }

    bool Next(std::string_view& line)
    {
        if (held_) {
            held_ = false;
            line = current_;
            return true;
        }
        while (true) {
            const char* start = buffer_.data() + begin_;
            const void* feed = std::memchr(start, '\n', end_ - begin_);
            if (feed) {
                const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(feed) - start);
                begin_ += length + 1;
                return Deliver(start, length, line);
            }
            if (eof_) {
                if (begin_ == end_) return false;
                const std::size_t length = end_ - begin_;
                begin_ = end_;
                return Deliver(start, length, line);
            }
            Fill();
        }
    }

    // The next call of Next gives the same line again.
    void Hold() { held_ = true; }
    long LineNumber() const { return number_; }
    const std::string& Path() const { return path_; }

    [[noreturn]] void Fail(const std::string& what) const
    {
        throw InputError(path_ + ", line " + std::to_string(number_) + ": " + what);
    }

private:
    bool Deliver(const char* start, std::size_t length, std::string_view& line)
    {
        if (length > 0 && start[length - 1] == '\r') --length;
        current_ = std::string_view(start, length);
        line = current_;
        ++number_;
        return true;
    }

    void Fill()
    {
        if (begin_ > 0) {
            std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        if (end_ == buffer_.size()) {
            if (buffer_.size() >= (std::size_t{1} << 28)) Fail("a line longer than 256 MB: not a keyword file");
            buffer_.resize(buffer_.size() * 2);
        }
        const std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_.get());
        if (got == 0) {
            if (std::ferror(file_.get())) throw InputError("cannot read " + path_ + ": " + std::strerror(errno));
            eof_ = true;
        }
        end_ += got;
    }

    std::string path_;
    FilePtr file_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
    bool held_ = false;
    std::string_view current_;
    long number_ = 0;
};

// ------------------------------------------------------------------ numbers

// The library's isspace goes through the locale for every byte.
bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool Digit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
    return s;
}

// Powers of ten by table: std::pow was the largest cost of reading a big file.
double TenTo(int e)
{
    static const std::vector<double> table = [] {
        std::vector<double> t(2 * 330 + 1);
        for (int k = -330; k <= 330; ++k) t[static_cast<std::size_t>(k + 330)] = std::pow(10.0, k);
        return t;
    }();
    if (e < -330 || e > 330) return std::pow(10.0, e);
    return table[static_cast<std::size_t>(e + 330)];
}

std::string_view Field(std::string_view line, std::size_t from, std::size_t width)
{
    if (from >= line.size()) return {};
    return Trim(line.substr(from, width));
}

// strtod would need a terminated copy of every field; this parser reads the
// field in place and is exact enough for a picture.
bool ParseReal(std::string_view s, double& out)
{
    s = Trim(s);
    std::size_t i = 0;
    const std::size_t n = s.size();
    bool negative = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::uint64_t mantissa = 0;
    int exponent = 0;
    int digits = 0;
    for (; i < n && Digit(s[i]); ++i, ++digits) {
        if (mantissa < 100000000000000000ULL) mantissa = mantissa * 10 + static_cast<unsigned>(s[i] - '0');
        else ++exponent;
    }
    if (i < n && s[i] == '.') {
        for (++i; i < n && Digit(s[i]); ++i, ++digits) {
            if (mantissa < 100000000000000000ULL) {
                mantissa = mantissa * 10 + static_cast<unsigned>(s[i] - '0');
                --exponent;
            }
        }
    }
    if (digits == 0) return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        ++i;
        bool down = false;
        if (i < n && (s[i] == '+' || s[i] == '-')) down = s[i++] == '-';
        int e = 0;
        const std::size_t first = i;
        for (; i < n && Digit(s[i]); ++i) e = std::min(e * 10 + (s[i] - '0'), 9999);
        if (i == first) return false;
        exponent += down ? -e : e;
    }
    if (i != n) return false;
    double value = static_cast<double>(mantissa);
    if (exponent != 0) value = exponent < 0 ? value / TenTo(-exponent) : value * TenTo(exponent);
    out = negative ? -value : value;
    return std::isfinite(out);
}

bool ParseInt(std::string_view s, int& out)
{
    s = Trim(s);
    if (s.empty()) return false;
    std::size_t i = 0;
    bool negative = false;
    if (s[0] == '+' || s[0] == '-') negative = s[i++] == '-';
    if (i == s.size()) return false;
    long long value = 0;
    for (; i < s.size(); ++i) {
        if (!Digit(s[i])) return false;
        value = value * 10 + (s[i] - '0');
        if (value > std::numeric_limits<int>::max()) return false;
    }
    out = static_cast<int>(negative ? -value : value);
    return true;
}

bool IsKeyword(std::string_view line) { return !line.empty() && line[0] == '*'; }
bool IsComment(std::string_view line) { return !line.empty() && line[0] == '$'; }

std::string KeywordName(std::string_view line)
{
    std::string name(Trim(line));
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

// The next line of a section; false (and the keyword kept) at the next keyword.
bool SectionLine(LineReader& in, std::string_view& line)
{
    while (in.Next(line)) {
        if (IsComment(line)) continue;
        if (IsKeyword(line)) {
            in.Hold();
            return false;
        }
        return true;
    }
    return false;
}

// ------------------------------------------------------------------ dynain

void ReadNodes(LineReader& in, Mesh& mesh)
{
    std::string_view line;
    while (SectionLine(in, line)) {
        if (Trim(line).empty()) continue;
        int id = 0;
        double x = 0, y = 0, z = 0;
        if (!ParseInt(Field(line, 0, 8), id) || !ParseReal(Field(line, 8, 16), x) ||
            !ParseReal(Field(line, 24, 16), y) || !ParseReal(Field(line, 40, 16), z))
            in.Fail("a node row that is not \"id x y z\" in 8+16+16+16 columns");
        // Kept as single precision, like the program keeps them.
        if (std::fabs(x) > 1e30 || std::fabs(y) > 1e30 || std::fabs(z) > 1e30)
            in.Fail("node " + std::to_string(id) + " lies beyond 1e30");
        mesh.nodeId.push_back(id);
        mesh.xyz.push_back(static_cast<float>(x));
        mesh.xyz.push_back(static_cast<float>(y));
        mesh.xyz.push_back(static_cast<float>(z));
    }
}

void ReadShells(LineReader& in, Mesh& mesh, bool withThickness)
{
    std::string_view line;
    while (SectionLine(in, line)) {
        if (Trim(line).empty()) continue;
        Element e;
        bool ok = ParseInt(Field(line, 0, 8), e.id) && ParseInt(Field(line, 8, 8), e.part);
        for (std::size_t k = 0; k < 4 && ok; ++k) {
            const std::string_view f = Field(line, 16 + 8 * k, 8);
            if (k == 3 && f.empty()) e.node[k] = 0;
            else ok = ParseInt(f, e.node[k]);
        }
        if (!ok) in.Fail("an element row that is not \"id part n1 n2 n3 n4\" in 8-column fields");
        if (e.node[3] == 0) e.node[3] = e.node[2];
        e.thickness = std::numeric_limits<float>::quiet_NaN();
        e.eps = std::numeric_limits<float>::quiet_NaN();
        if (withThickness) {
            if (!SectionLine(in, line)) in.Fail("element " + std::to_string(e.id) + " lacks its thickness line");
            double sum = 0;
            const int corners = e.Triangle() ? 3 : 4;
            for (int k = 0; k < corners; ++k) {
                double t = 0;
                if (!ParseReal(Field(line, 16 * static_cast<std::size_t>(k), 16), t))
                    in.Fail("a thickness line that is not four 16-column values");
                sum += t;
            }
            e.thickness = static_cast<float>(sum / corners);
        }
        mesh.elements.push_back(e);
    }
}

// One mean EPS per record; history values are skipped without being read.
void ReadShellStresses(LineReader& in, std::vector<std::pair<int, float>>& eps)
{
    std::string_view line;
    while (SectionLine(in, line)) {
        if (Trim(line).empty()) continue;
        int h[6] = {};
        for (std::size_t f = 0; f < 6; ++f) {
            const std::string_view field = Field(line, 10 * f, 10);
            if (field.empty() && f >= 3) continue;
            if (!ParseInt(field, h[f])) in.Fail("a stress header that is not \"EID NPLANE NTHICK NHISV\" in 10-column fields");
        }
        const int nplane = h[1], nthick = h[2], nhisv = h[3], large = h[5];
        if (nplane < 1 || nthick < 1 || nhisv < 0 || nplane * static_cast<long long>(nthick) > 10000 || nhisv > 100000 ||
            (large != 0 && large != 1))
            in.Fail("a stress header with " + std::to_string(nplane) + " x " + std::to_string(nthick) +
                    " points, " + std::to_string(nhisv) + " history values, LARGE " + std::to_string(large));
        const int points = nplane * nthick;
        const int perPoint = large ? (8 + nhisv + 4) / 5 : 1 + (nhisv + 7) / 8;
        double sum = 0;
        for (int p = 0; p < points; ++p) {
            for (int l = 0; l < perPoint; ++l) {
                if (!SectionLine(in, line)) in.Fail("the stress record of element " + std::to_string(h[0]) + " ends early");
                const bool holdsEps = large ? l == 1 : l == 0;
                if (!holdsEps) continue;
                double v = 0;
                if (!ParseReal(large ? Field(line, 32, 16) : Field(line, 70, 10), v))
                    in.Fail("no effective plastic strain where the stress line keeps it");
                sum += v;
            }
        }
        eps.emplace_back(h[0], static_cast<float>(sum / points));
    }
}

void SkipSection(LineReader& in)
{
    std::string_view line;
    while (in.Next(line)) {
        if (IsKeyword(line)) {
            in.Hold();
            return;
        }
    }
}

}  // namespace

Mesh ReadDynain(const std::string& path, const ReadOptions& options)
{
    if (std::filesystem::is_directory(path)) throw InputError(path + " is a directory, not a dynain");
    LineReader in(path);
    Mesh mesh;
    mesh.path = path;
    std::vector<std::pair<int, float>> eps;
    bool thickness = false;
    std::string_view line;
    while (in.Next(line)) {
        if (!IsKeyword(line)) continue;
        const std::string key = KeywordName(line);
        if (key == "*NODE") {
            ReadNodes(in, mesh);
        } else if (key == "*ELEMENT_SHELL_THICKNESS" || key == "*ELEMENT_SHELL") {
            thickness = thickness || key == "*ELEMENT_SHELL_THICKNESS";
            ReadShells(in, mesh, key == "*ELEMENT_SHELL_THICKNESS");
        } else if (key == "*INITIAL_STRESS_SHELL" && options.stresses) {
            ReadShellStresses(in, eps);
        } else if (key == "*END") {
            break;
        } else {
            SkipSection(in);
        }
    }
    if (mesh.elements.empty())
        throw InputError(path + " holds no shell elements (no *ELEMENT_SHELL_THICKNESS rows): not a dynain?");

    IdIndex nodes;
    nodes.Build(mesh.nodeId);
    for (Element& e : mesh.elements) {
        for (int& n : e.node) {
            const int k = nodes.Find(n);
            if (k < 0)
                throw InputError(path + ": element " + std::to_string(e.id) + " refers to node " + std::to_string(n) +
                                 ", which the file does not define");
            n = k;
        }
    }
    std::vector<int> ids;
    ids.reserve(mesh.elements.size());
    for (const Element& e : mesh.elements) ids.push_back(e.id);
    mesh.elementIndex.Build(ids);
    for (const auto& [id, value] : eps) {
        const int k = mesh.elementIndex.Find(id);
        if (k >= 0) mesh.elements[static_cast<std::size_t>(k)].eps = value;
    }
    mesh.haveEps = !eps.empty();
    mesh.haveThickness = thickness;
    return mesh;
}

// ------------------------------------------------------------------ deck

const TrimVector* Deck::ViewVector() const
{
    for (const Curve2D& c : curves)
        for (const TrimVector& v : vectors)
            if (!c.spatial && v.id == c.vectorId) return &v;
    return vectors.empty() ? nullptr : &vectors.front();
}

namespace {

std::vector<std::string_view> Words(std::string_view line)
{
    std::vector<std::string_view> words;
    const bool commas = line.find(',') != std::string_view::npos;
    std::size_t i = 0;
    while (i <= line.size()) {
        if (commas) {
            const std::size_t next = std::min(line.find(',', i), line.size());
            words.push_back(Trim(line.substr(i, next - i)));
            i = next + 1;
            continue;
        }
        while (i < line.size() && Blank(line[i])) ++i;
        const std::size_t start = i;
        while (i < line.size() && !Blank(line[i])) ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
        if (i >= line.size()) break;
    }
    return words;
}

bool Numbers(std::string_view line, std::size_t count, double* out)
{
    const std::vector<std::string_view> words = Words(line);
    if (words.size() < count) return false;
    for (std::size_t k = 0; k < count; ++k) {
        if (words[k].empty()) out[k] = 0;
        else if (!ParseReal(words[k], out[k])) return false;
    }
    return true;
}

}  // namespace

Deck ReadDeck(const std::string& path)
{
    if (std::filesystem::is_directory(path)) throw InputError(path + " is a directory, not a deck");
    LineReader in(path);
    Deck deck;
    deck.path = path;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    bool keywords = false;
    std::string_view line;
    while (in.Next(line)) {
        if (!IsKeyword(line)) continue;
        keywords = true;
        const std::string key = KeywordName(line);
        if (key == "*INCLUDE") {
            if (!SectionLine(in, line)) in.Fail("*INCLUDE without a file name");
            const std::filesystem::path name{std::string(Trim(line))};
            deck.include = (name.is_absolute() || folder.empty() ? name : folder / name).string();
        } else if (key == "*DEFINE_VECTOR") {
            double v[7] = {};
            if (!SectionLine(in, line) || !Numbers(line, 7, v)) in.Fail("*DEFINE_VECTOR wants \"id xt yt zt xh yh zh\"");
            TrimVector t;
            t.id = static_cast<int>(v[0]);
            t.tail = {v[1], v[2], v[3]};
            t.direction = {v[4] - v[1], v[5] - v[2], v[6] - v[3]};
            if (std::hypot(t.direction[0], t.direction[1], t.direction[2]) <= 0)
                in.Fail("*DEFINE_VECTOR " + std::to_string(t.id) + " has no length");
            deck.vectors.push_back(t);
        } else if (key == "*DEFINE_CURVE_TRIM" || key == "*DEFINE_CURVE_TRIM_3D" || key == "*DEFINE_CURVE_TRIM_NEW") {
            const bool spatial = key != "*DEFINE_CURVE_TRIM";
            double v[4] = {};
            if (!SectionLine(in, line) || !Numbers(line, 4, v)) in.Fail(key + " wants \"id type flag vector ...\"");
            Curve2D curve;
            curve.id = static_cast<int>(v[0]);
            curve.vectorId = static_cast<int>(v[3]);
            curve.spatial = spatial;
            if (static_cast<int>(v[1]) == 2) {
                // IGES files are named relative to the deck, as the program reads them.
                if (!SectionLine(in, line)) in.Fail(key + " " + std::to_string(curve.id) + " lacks its IGES file name");
                const std::filesystem::path name{std::string(Trim(line))};
                const std::string file = (name.is_absolute() || folder.empty() ? name : folder / name).string();
                try {
                    for (std::vector<Vec3>& points : ReadIgesCurves(file)) {
                        Curve2D piece = curve;
                        piece.points = std::move(points);
                        deck.curves.push_back(std::move(piece));
                    }
                } catch (const InputError& e) {
                    deck.unread.push_back(e.what());
                }
                continue;
            }
            if (spatial) continue;
            double p[2] = {};
            while (SectionLine(in, line) && Numbers(line, 2, p)) curve.points.push_back({p[0], p[1], 0.0});
            if (!curve.points.empty()) deck.curves.push_back(std::move(curve));
        }
    }
    if (!keywords) throw InputError(path + " holds no keyword lines: not a deck");
    return deck;
}

}  // namespace view
