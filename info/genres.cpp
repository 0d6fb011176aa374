#include "info/genres.h"

#include <array>

namespace wl {

namespace {

// Indexes 148..247 have no name.
constexpr std::array<const char*, 256> kGenres = [] {
    std::array<const char*, 256> t{};
    for (auto& name : t) name = "";
    t[0] = "Blues";
    t[1] = "Classic Rock";
    t[2] = "Country";
    t[3] = "Dance";
    t[4] = "Disco";
    t[5] = "Funk";
    t[6] = "Grunge";
    t[7] = "Hip-Hop";
    t[8] = "Jazz";
    t[9] = "Metal";
    t[10] = "New Age";
    t[11] = "Oldies";
    t[12] = "Other";
    t[13] = "Pop";
    t[14] = "R&B";
    t[15] = "Rap";
    t[16] = "Reggae";
    t[17] = "Rock";
    t[18] = "Techno";
    t[19] = "Industrial";
    t[20] = "Alternative";
    t[21] = "Ska";
    t[22] = "Death Metal";
    t[23] = "Pranks";
    t[24] = "Soundtrack";
    t[25] = "Euro-Techno";
    t[26] = "Ambient";
    t[27] = "Trip-Hop";
    t[28] = "Vocal";
    t[29] = "Jazz+Funk";
    t[30] = "Fusion";
    t[31] = "Trance";
    t[32] = "Classical";
    t[33] = "Instrumental";
    t[34] = "Acid";
    t[35] = "House";
    t[36] = "Game";
    t[37] = "Sound Clip";
    t[38] = "Gospel";
    t[39] = "Noise";
    t[40] = "AlternRock";
    t[41] = "Bass";
    t[42] = "Soul";
    t[43] = "Punk";
    t[44] = "Space";
    t[45] = "Meditative";
    t[46] = "Instrumental Pop";
    t[47] = "Instrumental Rock";
    t[48] = "Ethnic";
    t[49] = "Gothic";
    t[50] = "Darkwave";
    t[51] = "Techno-Industrial";
    t[52] = "Electronic";
    t[53] = "Pop-Folk";
    t[54] = "Eurodance";
    t[55] = "Dream";
    t[56] = "Southern Rock";
    t[57] = "Comedy";
    t[58] = "Cult";
    t[59] = "Gangsta";
    t[60] = "Top 40";
    t[61] = "Christian Rap";
    t[62] = "Pop/Funk";
    t[63] = "Jungle";
    t[64] = "Native American";
    t[65] = "Cabaret";
    t[66] = "New Wave";
    t[67] = "Psychadelic";
    t[68] = "Rave";
    t[69] = "Showtunes";
    t[70] = "Trailer";
    t[71] = "Lo-Fi";
    t[72] = "Tribal";
    t[73] = "Acid Punk";
    t[74] = "Acid Jazz";
    t[75] = "Polka";
    t[76] = "Retro";
    t[77] = "Musical";
    t[78] = "Rock & Roll";
    t[79] = "Hard Rock";
    t[80] = "Folk";
    t[81] = "Folk/Rock";
    t[82] = "National Folk";
    t[83] = "Swing";
    t[84] = "Fast Fusion";
    t[85] = "Bebob";
    t[86] = "Latin";
    t[87] = "Revival";
    t[88] = "Celtic";
    t[89] = "Bluegrass";
    t[90] = "Avantgarde";
    t[91] = "Gothic Rock";
    t[92] = "Progressive Rock";
    t[93] = "Psychedelic Rock";
    t[94] = "Symphonic Rock";
    t[95] = "Slow Rock";
    t[96] = "Big Band";
    t[97] = "Chorus";
    t[98] = "Easy Listening";
    t[99] = "Acoustic";
    t[100] = "Humour";
    t[101] = "Speech";
    t[102] = "Chanson";
    t[103] = "Opera";
    t[104] = "Chamber Music";
    t[105] = "Sonata";
    t[106] = "Symphony";
    t[107] = "Booty Bass";
    t[108] = "Primus";
    t[109] = "Porn Groove";
    t[110] = "Satire";
    t[111] = "Slow Jam";
    t[112] = "Club";
    t[113] = "Tango";
    t[114] = "Samba";
    t[115] = "Folklore";
    t[116] = "Ballad";
    t[117] = "Power Ballad";
    t[118] = "Rhysmic Soul";
    t[119] = "Freestyle";
    t[120] = "Duet";
    t[121] = "Punk Rock";
    t[122] = "Drum Solo";
    t[123] = "Acapella";
    t[124] = "Euro-House";
    t[125] = "Dance-Hall";
    t[126] = "Goa";
    t[127] = "Drum & Bass";
    t[128] = "Hardcore";
    t[129] = "Club-House";
    t[130] = "Terror";
    t[131] = "Indie";
    t[132] = "BritPop";
    t[133] = "Negerpunk";
    t[134] = "Polsk Punk";
    t[135] = "Beat";
    t[136] = "Christian Gangsta Rap";
    t[137] = "Heavy Metal";
    t[138] = "Blank Metal";
    t[139] = "Crossover";
    t[140] = "Contemporrary Christian";
    t[141] = "Christian Rock";
    t[142] = "Merengue";
    t[143] = "Salsa";
    t[144] = "Trash Metal";
    t[145] = "Anime";
    t[146] = "JPop";
    t[147] = "Synthpop";
    t[248] = "Heavy Rock(J)";
    t[249] = "Doom Rock(J)";
    t[250] = "J-POP(J)";
    t[251] = "Seiyu(J)";
    t[252] = "Tecno Ambient(J)";
    t[253] = "Moemoe(J)";
    t[254] = "Tokusatsu(J)";
    t[255] = "Anime(J)";
    return t;
}();

}  // namespace

std::string_view GenreName(int index) {
    if (index < 0 || index > 255) return {};
    return kGenres[static_cast<size_t>(index)];
}

}  // namespace wl
