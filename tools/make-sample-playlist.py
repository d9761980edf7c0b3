#!/usr/bin/env python3
"""Writes skins/default/sample.m3u8, the demo playlist.

All artists and titles are invented. The output is deterministic (fixed
seed), so running this again gives the same file byte for byte:

    python3 tools/make-sample-playlist.py [OUTPUT]

Besides ordinary "Artist - Title" entries the playlist holds a few entries
that exercise the edge cases of the playlist cache and the pages:
  * one artist written in different letter case and in full-width letters,
    and one written in hiragana, katakana and half-width katakana; each
    group collapses into a single artist in the artist list, under the
    spelling of its first entry;
  * titles without " - " (no artist), and one with a second " - " in it;
  * a title with characters that must be HTML-escaped (& < > ' ");
  * a very long title.
Every text is representable in code page 932, because the player stand-in
converts the UTF-8 playlist to that code page.
"""

import random
import sys
from pathlib import Path

SEED = 20240601
ENTRY_COUNT = 320

LATIN_ARTISTS = [
    "Velvet Orrery", "Harbor Static", "Marigold Circuit", "Quiet Comet Club",
    "Nova Thistle", "Cobalt Wren", "Saltmarsh Radio", "Ivory Tramline",
    "Juniper Satellite", "Orchid Telegraph", "Glasshouse Parade",
    "Moss Kaleido", "Tin Lantern Society", "Pale Ferris", "Lantern Fishbowl",
]
JAPANESE_ARTISTS = [
    "星屑ランタン", "夏目坂シグナル", "あおぞら電波塔", "月白カルテット",
    "雨宿りスタジオ", "紙ひこうき楽団", "深海タイプライター", "朝凪ステーション",
    "白夜ジャンクション", "猫町オーケストラ", "東雲ループ", "硝子の灯台",
    "千夜一夜ラジオ", "藍色サーカス", "木漏れ日ポスト", "桜坂ネオン",
    "北村ユキ", "三日月トラベラーズ",
]

LATIN_ADJECTIVES = [
    "Silver", "Midnight", "Paper", "Electric", "Hollow", "Golden", "Slow",
    "Distant", "Neon", "Quiet", "Velvet", "Broken", "Northern", "Little",
    "Endless", "Secret", "Faded", "Crystal", "Restless", "Open",
]
LATIN_NOUNS = [
    "Harbor", "Satellite", "Parade", "Letters", "Engine", "Summer", "Rain",
    "Window", "Signal", "Garden", "Highway", "Lanterns", "Postcard", "Tide",
    "Avenue", "Orbit", "Balcony", "Weather", "Radio", "Horizon",
]
JAPANESE_ADJECTIVES = [
    "夜明けの", "星降る", "青い", "真夜中の", "遠い", "雨上がりの", "小さな",
    "最後の", "始まりの", "透明な", "眠れない", "夏色の", "白い", "優しい",
    "まぼろしの", "さよならの", "秘密の", "午前零時の",
]
JAPANESE_NOUNS = [
    "約束", "手紙", "海岸線", "観覧車", "メロディ", "帰り道", "灯り", "午後",
    "季節", "交差点", "花火", "風景", "ラジオ", "列車", "屋上", "図書館",
    "サイダー", "プラネタリウム", "ワルツ", "スニーカー",
]
SUFFIXES = ["", "", "", "", "", " (Live)", " (Remix)", " (Acoustic)", " [2024 Mix]"]

# Entries placed at fixed positions, so that the spelling that wins in the
# artist list (the one at the lowest position) is known.
SPECIAL_ENTRIES = {
    3: "Lumen Drive - Afterglow Engine",
    7: "みなも - 水面のワルツ",
    40: "LUMEN DRIVE - Overdrive Lullaby",
    55: "ミナモ - 雨音のプレリュード",
    88: "lumen drive - Small Hours",
    101: "ﾐﾅﾓ - ｻｲﾀﾞｰ･ｻﾏｰ",
    130: "Ｌｕｍｅｎ Ｄｒｉｖｅ - Ｆｕｌｌ Ｗｉｄｔｈ Ｈｉｇｈｗａｙ",
    150: "Salt & Sugar - Rock & Roll <Intro> \"Don't Stop\" > Outro",
    175: "夜明けのインタールード",
    176: "Untitled Jam 03",
    200: "Cobalt Wren - Ghost Signal - Extended Version",
    230: "東雲ループ - 終わらない夏休みの午後に君と自転車で走った海沿いの長い長い坂道と"
         "それから二人で見上げた花火の夜のことをいつまでも覚えているためのバラード"
         " (Extended Radio Edit, Remastered Version, Bonus Track for the Anniversary Edition)",
    260: "Salt & Sugar - 5 < 7 & Friends",
}


def make_title(rng, latin):
    if latin:
        base = f"{rng.choice(LATIN_ADJECTIVES)} {rng.choice(LATIN_NOUNS)}"
    else:
        base = f"{rng.choice(JAPANESE_ADJECTIVES)}{rng.choice(JAPANESE_NOUNS)}"
    return base + rng.choice(SUFFIXES)


def make_entries():
    rng = random.Random(SEED)
    artists = [(name, True) for name in LATIN_ARTISTS] + \
              [(name, False) for name in JAPANESE_ARTISTS]
    used = set(SPECIAL_ENTRIES.values())
    entries = []
    for position in range(ENTRY_COUNT):
        if position in SPECIAL_ENTRIES:
            entries.append(SPECIAL_ENTRIES[position])
            continue
        while True:
            artist, latin = rng.choice(artists)
            # A few artists cross over and sing in the other language.
            if rng.random() < 0.15:
                latin = not latin
            text = f"{artist} - {make_title(rng, latin)}"
            if text not in used:
                break
        used.add(text)
        entries.append(text)
    return entries


def render(entries):
    rng = random.Random(SEED + 1)
    lines = ["#EXTM3U"]
    for position, text in enumerate(entries):
        text.encode("cp932")  # fails loudly on a character the player cannot show
        seconds = rng.randint(120, 420)
        lines.append(f"#EXTINF:{seconds},{text}")
        lines.append(f"C:\\Music\\Ambervox Sample\\{position // 20 + 1:02d}\\"
                     f"{position % 20 + 1:02d}.mp3")
    return "\r\n".join(lines) + "\r\n"


def main():
    default = Path(__file__).resolve().parent.parent / "skins" / "default" / "sample.m3u8"
    output = Path(sys.argv[1]) if len(sys.argv) > 1 else default
    output.write_bytes(render(make_entries()).encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
