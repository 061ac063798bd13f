#include "json/CharacterSet.h"

#include "json/TextCodec.h"

namespace json {

CharacterSet CharacterSet::characterSetWithCharactersInString(std::string_view utf8)
{
    CharacterSet set;
    if (auto text = TextCodec::fromUTF8(utf8)) {
        for (char16_t c : *text)
            set.addCharacter(c);
    } else {
        for (unsigned char b : utf8)
            set.addCharacter(b);
    }
    return set;
}

std::shared_ptr<const CharacterSet> CharacterSet::shared(std::string_view utf8)
{
    return std::make_shared<const CharacterSet>(characterSetWithCharactersInString(utf8));
}

} // namespace json
