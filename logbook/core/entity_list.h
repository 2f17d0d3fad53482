// entity_list: the logbook's built-in list of DXCC entities (the hidden list box ListBox2 of the
// Set page) and the prefix look-up over it.
//
// Each item is a name, a gap of four blanks and the entity's prefix, written exactly as stored
// logbooks and the DXCC reference table hold them ("lebanon", "The GAmbia" and "Monoco"
// included). Beside each item the list keeps the spelling(s) the country file uses for the same
// entity, so that a name can pass between the country file and this list.
//
// Constant data and pure functions; safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

struct EntityListEntry {
  const char* item;  // the list box item as written
  // The country file's spelling(s) of the entity, ';'-separated, the first giving its position:
  // null when it is the item's own name, "" when the country file has no such entity.
  const char* countryFileNames;
};

// The 339 items in list order, Afghanistan first and Zimbabwe last.
const std::vector<EntityListEntry>& EntityList();

// The items' texts, for filling the list box.
std::vector<std::string> EntityListItems();

// The entity an item names: its text before the first run of three or more blanks ("Bear I.",
// and "Glorioso I." for the item "Glorioso I.   FR/g", which the prefix look-up never finds).
std::string EntityName(std::string_view item);

// The prefix look-up behind the hidden button "determines pfx": the first item whose name, blanks
// trimmed, equals `qth` upper-cased (compared in upper case); the prefix is then the item's ten
// characters from the start of its gap, upper-cased and trimmed. Empty when nothing matches.
std::string FindEntityPrefix(std::string_view qth);

// The country file's name for an entity of the list ("Monoco" gives "Monaco"); the name itself
// when the two agree; empty when `name` is no entity of the list or the country file lacks it.
std::string CountryFileNameOf(std::string_view name);

// The list's entity for a country-file name ("Monaco" gives "Monoco"; entities since divided
// give the list's undivided one, "Curacao" gives "Netherlands Antilles"); the country-file name
// itself when no entity of the list claims it.
std::string EntityListNameOf(std::string_view countryFileName);

// Status panel 4 after the entity field changes: bearing label + ". @ " + distance label while
// the entity field holds text and the country file knew the entity; empty otherwise.
std::string BearingPanelText(std::string_view entity, bool found, std::string_view bearingLabel,
                             std::string_view distanceLabel);

}  // namespace quillmere
