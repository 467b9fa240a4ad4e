#include "SampleData.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>

namespace tarvo::server {

namespace {

constexpr int kVendorCount = 300;

constexpr std::array kPlaces = {
    "Atlas",     "Northern",    "Pacific",  "Summit",     "Keystone", "Blue Ridge",
    "Harbor",    "Great Lakes", "Pioneer",  "Maple Leaf", "Cedar",    "Granite",
    "Riverside", "Evergreen",   "Frontier", "Lakeshore",  "Prairie",  "Silver Creek",
    "Ironwood",  "Coastal",     "Midland",  "Beacon",     "Crescent", "Redwood",
    "Union",     "Liberty",     "Capital",  "Heritage",   "Sterling", "Tri-County"};

constexpr std::array kFamilies = {"O'Brien",  "Dunn",    "McAllister", "Kowalski", "Nguyen",
                                  "Tremblay", "Fischer", "Rossi",      "Haddad",   "Johansson",
                                  "D'Angelo", "Baker",   "Murphy",     "Chen",     "Lavoie",
                                  "Schmidt",  "O'Neill", "Okafor",     "Patel",    "Gagnon"};

constexpr std::array kTrades = {
    "Freight",       "Logistics",         "Tool & Die", "Paper Products", "Steel",
    "Plastics",      "Electronics",       "Textiles",   "Foods",          "Hardware",
    "Chemicals",     "Packaging",         "Lumber",     "Auto Parts",     "Office Supply",
    "Marine Supply", "Industrial Supply", "Printing",   "Glass",          "Fasteners",
    "Bearings",      "Coatings",          "Millwork",   "Pumps & Valves", "Cold Storage"};

constexpr std::array kSuffixes = {"Inc.",  "Ltd.",         "Co.",           "Corp.",
                                  "LLC",   "Limited",      "Group",         "& Sons",
                                  "Bros.", "Distributors", "International", "Trading"};

constexpr std::array kOtherCountries = {2, 3, 44, 49, 52, 81, 86};
constexpr std::array kFees = {0.05, 0.08, 0.08, 0.1, 0.125, 0.025, 0.15, 0.0};

// A small fixed generator: the standard distributions may differ between libraries, and
// the sample must not.
class Sequence
{
public:
    explicit Sequence(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next()
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 2685821657736338717ULL;
    }
    template <typename Array> auto pick(const Array &items) { return items[next() % items.size()]; }
    bool chance(int percent) { return static_cast<int>(next() % 100) < percent; }

private:
    std::uint64_t m_state;
};

std::string companyName(Sequence &seq)
{
    const std::string place = seq.pick(kPlaces);
    const std::string family = seq.pick(kFamilies);
    const std::string trade = seq.pick(kTrades);
    const std::string suffix = seq.pick(kSuffixes);
    switch (seq.next() % 6) {
    case 0:
        return place + " " + trade + " " + suffix;
    case 1:
        return family + " & Sons " + trade;
    case 2:
        return family + "'s " + trade;
    case 3:
        return place + " " + trade;
    case 4:
        return family + " " + trade + " " + suffix;
    default: {
        const std::string partner = seq.pick(kFamilies);
        return family + " & " + partner + " " + suffix;
    }
    }
}

std::string timestamp(Sequence &seq, int firstYear, int years)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d",
                  firstYear + static_cast<int>(seq.next() % static_cast<unsigned>(years)),
                  1 + static_cast<int>(seq.next() % 12), 1 + static_cast<int>(seq.next() % 28),
                  7 + static_cast<int>(seq.next() % 11), static_cast<int>(seq.next() % 60),
                  static_cast<int>(seq.next() % 60));
    return buffer;
}

} // namespace

store::Records makeSampleData()
{
    store::Records data;
    data.centers = {{1, "Toronto Distribution Center", 1},
                    {2, "Buffalo Cross-Dock", 2},
                    {3, "Montreal Consolidation Hub", 3},
                    {4, "Vancouver Port Facility", 5}};

    Sequence seq(0x5EED'C0DE'2011ULL);
    std::set<std::string> names;
    for (int id = 1; id <= kVendorCount; ++id) {
        std::string name = companyName(seq);
        while (!names.insert(name).second) {
            name = companyName(seq);
        }
        store::Vendor vendor;
        vendor.id = id;
        vendor.name = std::move(name);
        vendor.countryId = seq.chance(45) ? 1 : seq.pick(kOtherCountries);
        vendor.active = !seq.chance(12);
        vendor.lastUpdated = timestamp(seq, 2019, 6);
        data.vendors.push_back(std::move(vendor));
    }

    // Center 4 stays without assignments, so that an empty selected list is at hand.
    constexpr std::array<std::pair<std::int64_t, int>, 3> kAssigned = {{{1, 40}, {2, 60}, {3, 25}}};
    for (const auto &[centerId, count] : kAssigned) {
        std::set<std::int64_t> chosen;
        while (static_cast<int>(chosen.size()) < count) {
            chosen.insert(1 + static_cast<std::int64_t>(seq.next() % kVendorCount));
        }
        const bool dutyCenter = centerId == 2;
        for (const std::int64_t vendorId : chosen) {
            const store::Vendor &vendor = data.vendors[static_cast<std::size_t>(vendorId - 1)];
            store::Assignment assignment;
            assignment.centerId = centerId;
            assignment.vendorId = vendorId;
            assignment.fee = seq.pick(kFees);
            assignment.duty =
                dutyCenter && vendor.countryId == 1 ? !seq.chance(10) : seq.chance(25);
            assignment.lastUpdated = timestamp(seq, 2023, 2);
            data.assignments.push_back(std::move(assignment));
        }
    }
    return data;
}

} // namespace tarvo::server
