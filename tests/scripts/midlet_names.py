#!/usr/bin/env python3
"""Names in every script: manifests written in the legacy code pages of the
world's phones (made here with python's codecs from real-language text) are
renamed to the right UTF-8 names; detection is measured over a table of 100
manifests; rename templates, hostile values and collisions."""
import hashlib
import json
import os
import shutil
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "midlet_lib"))
from jars import Checker, require_program, run  # noqa: E402

require_program()
c = Checker()
work = tempfile.mkdtemp(prefix="parcelix-names-")
ini = os.path.join(work, "settings.ini")
ENV = {"PARCELIX_INI": ini}

# (name, vendor, description) in each language, and the code pages its phones used.
TEXTS = {
    "ru": [("Игра Змейка", "Мобильные игры", "Классическая змейка для вашего телефона"),
           ("Морской бой", "Студия Вектор", "Потопите флот противника раньше, чем он потопит ваш"),
           ("Тетрис", "Разработчик", "Складывайте фигуры и убирайте линии"),
           ("Шахматы", "Гроссмейстер", "Шахматы с компьютером, три уровня сложности"),
           ("Гонки по бездорожью", "Быстрые колёса", "Мчитесь по грязи и песку на внедорожнике"),
           ("Сапёр", "Логика", "Найдите все мины на поле"),
           ("Пасьянс Косынка", "Карты", "Самый известный пасьянс"),
           ("Словарь", "Лингва", "Англо-русский словарь для телефона"),
           ("Танки", "Стальной кулак", "Защитите штаб от вражеских танков"),
           ("Космические войны", "Звёздная студия", "Сражения в открытом космосе"),
           ("Рыбалка", "Отдых", "Поймайте самую большую рыбу в озере"),
           ("Бильярд", "Клуб", "Русский бильярд на вашем телефоне"),
           ("Дурак", "Карточные игры", "Подкидной дурак против компьютера"),
           ("Вокруг света", "Путешествия", "Объедьте весь мир за восемьдесят дней"),
           ("Кубик Рубика", "Головоломки", "Соберите кубик как можно быстрее"),
           ("Погода", "Полезные программы", "Прогноз погоды на неделю"),
           ("Лабиринт", "Приключения", "Найдите выход из подземелья"),
           ("Футбольный менеджер", "Спорт", "Приведите свою команду к победе"),
           ("Снайпер", "Боевики", "Точный выстрел решает всё")],
    "uk": [("Козацькі війни", "Україна Ігри", "Захистіть свою землю від ворогів"),
           ("Футбол", "Спортивні ігри", "Зіграйте чемпіонат світу зі своєю командою"),
           ("Їжачок у тумані", "Казки", "Допоможіть їжачкові знайти дорогу додому"),
           ("Шашки", "Настільні ігри", "Класичні шашки для двох гравців"),
           ("Пригоди Івасика", "Студія Сонце", "Пригодницька гра за мотивами української казки"),
           ("Календар", "Корисні програми", "Календар зі святами та іменинами"),
           ("Перекладач", "Мова", "Англійсько-український словник"),
           ("Рибалка на Дніпрі", "Відпочинок", "Спіймайте найбільшого сома")],
    "zh-s": [("贪吃蛇", "移动游戏", "经典的贪吃蛇游戏"),
             ("俄罗斯方块", "游戏工作室", "消除方块，挑战最高分"),
             ("中国象棋", "棋牌游戏", "与电脑对弈，三种难度"),
             ("三国志", "历史游戏", "统一天下的战略游戏"),
             ("斗地主", "扑克游戏", "最受欢迎的扑克游戏"),
             ("飞机大战", "射击游戏", "驾驶战斗机消灭敌人"),
             ("英汉词典", "学习软件", "手机上的英汉双向词典"),
             ("赛车", "速度游戏", "在城市街道上飞驰"),
             ("泡泡龙", "休闲游戏", "发射泡泡，三个相同就会消除"),
             ("西游记", "动作游戏", "跟随孙悟空踏上取经之路"),
             ("五子棋", "益智游戏", "先连成五子者获胜"),
             ("植物大战僵尸", "策略游戏", "种植植物抵御僵尸的进攻"),
             ("水浒传", "角色扮演", "一百零八位好汉的故事")],
    "zh-t": [("貪食蛇", "行動遊戲", "經典的貪食蛇遊戲"),
             ("俄羅斯方塊", "遊戲工作室", "消除方塊，挑戰最高分"),
             ("中國象棋", "棋牌遊戲", "與電腦對弈，三種難度"),
             ("三國志", "歷史遊戲", "統一天下的戰略遊戲"),
             ("麻將", "棋牌遊戲", "台灣十六張麻將"),
             ("飛機大戰", "射擊遊戲", "駕駛戰鬥機消滅敵人"),
             ("英漢詞典", "學習軟體", "手機上的英漢雙向詞典"),
             ("賽車", "速度遊戲", "在城市街道上飛馳"),
             ("西遊記", "動作遊戲", "跟隨孫悟空踏上取經之路"),
             ("大富翁", "休閒遊戲", "買地蓋房，成為最富有的人"),
             ("武俠傳說", "角色扮演", "成為一代大俠"),
             ("撲克大師", "紙牌遊戲", "與高手一較高下")],
    "ja": [("テトリス", "モバイルゲーム", "ブロックを消して高得点を目指そう"),
           ("将棋", "ボードゲーム", "コンピュータと対局できる本格将棋"),
           ("麻雀", "テーブルゲーム", "四人打ちの本格麻雀ゲーム"),
           ("ドラゴン伝説", "アクション工房", "ドラゴンを倒して王国を救え"),
           ("釣りスピリッツ", "釣りゲーム", "大物を釣り上げよう"),
           ("数独", "パズル", "毎日遊べる数字パズル"),
           ("野球", "スポーツゲーム", "ホームランを打とう"),
           ("英和辞典", "学習アプリ", "携帯電話で使える英和辞典"),
           ("忍者の冒険", "ゲーム会社", "忍者になって城に潜入せよ"),
           ("ぷよぷよ", "落ち物パズル", "同じ色を四つ並べて消そう"),
           ("脱出ゲーム", "謎解き", "部屋から脱出できるかな"),
           ("花札", "和風ゲーム", "こいこいで遊ぼう"),
           ("魔法少女", "ロールプレイング", "魔法の力で世界を守れ")],
    "pl": [("Wąż", "Gry Mobilne", "Klasyczna gra w węża na twój telefon"),
           ("Szachy", "Łódź Soft", "Zagraj w szachy z komputerem"),
           ("Żółw Ninja", "Przygoda", "Pomóż żółwiowi dotrzeć do domu"),
           ("Wyścigi", "Szybkie Koła", "Ścigaj się po ulicach Warszawy"),
           ("Słownik", "Języki", "Słownik polsko-angielski"),
           ("Pasjans", "Karty", "Najpopularniejszy pasjans świata"),
           ("Wiedźmin", "Studio Gier", "Przygody łowcy potworów"),
           ("Łowienie ryb", "Wędkarstwo", "Złów największą rybę w jeziorze"),
           ("Kółko i krzyżyk", "Łamigłówki", "Gra dla dwóch osób")],
    "cs": [("Had", "Česká hra", "Klasická hra s hadem pro váš mobil"),
           ("Šachy", "Hry pro mobily", "Zahrajte si šachy proti počítači"),
           ("Závody", "Rychlá kola", "Závodní hra po českých silnicích"),
           ("Slovník", "Jazyky", "Anglicko-český slovník do kapsy"),
           ("Krteček", "Pohádky", "Dobrodružství malého krtečka"),
           ("Miny", "Logické hry", "Najděte všechny miny na hrací ploše"),
           ("Žížala", "Zábava", "Hra pro děti i dospělé"),
           ("Dáma", "Deskové hry", "Stolní hra pro dva hráče")],
    "de": [("Schlange", "Mobile Spiele", "Das klassische Schlangenspiel für Ihr Handy"),
           ("Fußball Manager", "Spielefabrik", "Führen Sie Ihren Verein zur Meisterschaft"),
           ("Schach", "Brettspiele", "Spielen Sie Schach gegen den Computer"),
           ("Wörterbuch", "Sprachen", "Englisch-Deutsch Wörterbuch für unterwegs"),
           ("Mühle", "Brettspiele", "Das Mühlespiel für zwei Spieler"),
           ("Straßenrennen", "Schnelle Räder", "Rasen Sie durch die Straßen"),
           ("Märchenwald", "Abenteuer", "Ein Abenteuer im verzauberten Wald"),
           ("Bäckerei", "Aufbauspiele", "Führen Sie Ihre eigene Bäckerei"),
           ("Kartoffelkönig", "Landwirtschaft", "Ernten Sie die größten Kartoffeln")],
    "fr": [("Serpent", "Jeux Mobiles", "Le célèbre jeu du serpent sur votre téléphone"),
           ("Échecs", "Jeux de société", "Jouez aux échecs contre l'ordinateur"),
           ("Pétanque", "Sports", "La pétanque comme en Provence"),
           ("Dictionnaire", "Langues", "Dictionnaire français-anglais de poche"),
           ("Course à pied", "Éditeur", "Une course effrénée à travers la forêt"),
           ("Mots croisés", "Casse-tête", "Des grilles de mots croisés pour tous les âges"),
           ("Le Château hanté", "Aventure", "Échappez-vous du château avant minuit"),
           ("Crêperie", "Gestion", "Préparez des crêpes pour vos clients pressés"),
           ("Boulangerie", "Cuisine", "Préparez le pain frais chaque matin")],
}
CODEPAGES = {"ru": ["windows-1251", "koi8-r"], "uk": ["windows-1251"], "zh-s": ["gbk"], "zh-t": ["big5"],
             "ja": ["shift_jis"], "pl": ["windows-1250"], "cs": ["windows-1250"], "de": ["windows-1252"],
             "fr": ["windows-1252"]}
# How much text a manifest carries besides its name: the name alone, the
# vendor too, or a description as well (most real suites have one).
SHAPES = ("name", "name+vendor", "full")


def manifest(texts, shape, version="1.0"):
    name, vendor, desc = texts
    lines = ["Manifest-Version: 1.0", "MIDlet-Name: " + name, "MIDlet-Version: " + version]
    if shape != "name":
        lines.append("MIDlet-Vendor: " + vendor)
    if shape == "full":
        lines.append("MIDlet-Description: " + desc)
    lines += ["MIDlet-1: Game, /i.png, GameMidlet", "MicroEdition-Configuration: CLDC-1.0",
              "MicroEdition-Profile: MIDP-2.0"]
    return lines


def encoded(lines, codepage):
    return ("\r\n".join(lines) + "\r\n\r\n").encode(codepage)


def write_jar(path, mf_bytes):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("META-INF/MANIFEST.MF", mf_bytes)
        z.writestr("GameMidlet.class", b"\xca\xfe\xba\xbe" + bytes(range(64)))
    return path


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def write_ini(add_version=True, extra=""):
    with open(ini, "w") as f:
        f.write("[Rename]\nAddVersion=%d\n%s" % (add_version, extra))


def rename_json(args):
    code, out, err = run(["rename", "--json"] + args, ENV)
    return code, [json.loads(l) for l in out.splitlines() if l.strip()], err


# ------------------------------------------------------------ the table of 100
table = []
for lang, items in TEXTS.items():
    for i, texts in enumerate(items):
        cp = CODEPAGES[lang][i % len(CODEPAGES[lang])]
        shape = SHAPES[i % 3]
        if shape == "name" and texts[0].isascii():
            shape = "full"  # a name alone in ASCII would prove nothing about detection
        table.append((lang, cp, shape, texts))
c.eq(len(table), 100, "the detection table holds 100 manifests")

write_ini()
d = os.path.join(work, "table")
expected = {}
for n, (lang, cp, shape, texts) in enumerate(table):
    jar = write_jar(os.path.join(d, "j%03d.jar" % n), encoded(manifest(texts, shape), cp))
    expected[jar] = (os.path.join(d, texts[0] + " 1.0.jar"), lang, cp, shape, texts[0])
code, results, err = rename_json(["-n", d])
c.eq(len(results), 100, "rename -n reports every JAR of the table")
right, misses = 0, []
for r in results:
    want, lang, cp, shape, name = expected[r["path"]]
    if r.get("new_path") == want:
        right += 1
    else:
        misses.append("%s %s (%s): %r read as %r" % (lang, cp, shape, name, r.get("new_path", r.get("message"))))
print("detection: %d of %d manifests read right (%.0f %%)" % (right, len(results), 100.0 * right / max(1, len(results))))
for m in misses:
    print("  miss:", m)
c.check(right >= 95, "detection is right on at least 95 of 100 manifests (%d)" % right)

# ------------------------------------------------------------ every language renamed for real
# With a description, as most suites carry one: every name must come out right.
d = os.path.join(work, "real")
for lang, items in TEXTS.items():
    for cp in CODEPAGES[lang]:
        texts = items[0] if cp != "koi8-r" else items[1]
        sub = os.path.join(d, lang + "-" + cp)
        jar = write_jar(os.path.join(sub, "game.jar"), encoded(manifest(texts, "full"), cp))
        before = digest(jar)
        code, out, err = run(["rename", sub], ENV)
        c.eq(code, 0, "rename %s %s" % (lang, cp))
        names = os.listdir(sub.encode())
        c.eq(names, [(texts[0] + " 1.0.jar").encode("utf-8")], "rename %s %s: the UTF-8 name" % (lang, cp))
        if names:
            c.eq(digest(os.path.join(sub.encode(), names[0]).decode()), before, "the JAR's bytes are not touched")

# The slash command of the file manager's menu gives the same name.
d = os.path.join(work, "slash")
jar = write_jar(os.path.join(d, "x.jar"), encoded(manifest(TEXTS["ru"][0], "name"), "windows-1251"))
code, out, err = run(["/rename", jar], ENV)
c.eq((code, os.listdir(d)), (0, ["Игра Змейка 1.0.jar"]), "/rename of a windows-1251 manifest")

# A manifest in UTF-8 keeps its name as it is; a name cut by the 50-byte
# scan inside a character loses that character, never half of it.
d = os.path.join(work, "utf8")
write_jar(os.path.join(d, "u.jar"), encoded(manifest(("Змейка", "", ""), "name"), "utf-8"))
write_jar(os.path.join(d, "w.jar"), encoded(manifest(("Ж" * 40, "", ""), "name", version="2"), "utf-8"))
code, out, err = run(["rename", d], ENV)
c.eq(sorted(os.listdir(d)), sorted(["Змейка 1.0.jar", "Ж" * 24 + " 2.jar"]), "UTF-8 manifests")

# ------------------------------------------------------------ the code page chosen by the user
d = os.path.join(work, "fixed")
cyr = manifest(TEXTS["ru"][1], "full")
write_jar(os.path.join(d, "a.jar"), encoded(cyr, "windows-1251"))
code, results, err = rename_json(["-n", "--codepage", "KOI8-R", d])
want = TEXTS["ru"][1][0].encode("windows-1251").decode("koi8-r")
c.eq(results[0].get("new_path"), os.path.join(d, want + " 1.0.jar"), "--codepage KOI8-R overrules detection")
write_ini(extra="CodePage=cp1251\n")
write_jar(os.path.join(d, "b.jar"), encoded(manifest(TEXTS["zh-s"][1], "full"), "gbk"))
code, results, err = rename_json(["-n", os.path.join(d, "b.jar")])
want = TEXTS["zh-s"][1][0].encode("gbk").decode("cp1251")
c.eq(results[0].get("new_path"), os.path.join(d, want + " 1.0.jar"), "[Rename] CodePage= overrules detection")
code, results, err = rename_json(["-n", "--codepage", "auto", os.path.join(d, "b.jar")])
c.eq(results[0].get("new_path"), os.path.join(d, "俄罗斯方块 1.0.jar"), "--codepage auto overrules the setting")
for bad in (["--codepage", "EBCDIC"], ["--template", "{MIDlet-Name"], ["--template", "x}"],
            ["--template", "/tmp/{MIDlet-Name}"], ["--template", "../{MIDlet-Name}"], ["--on-conflict=replace"]):
    code, out, err = run(["rename", "-n"] + bad + [d], ENV)
    c.check(code == 2 and "rename" in err, "bad option value %s: exit 2 and told (%s)" % (bad, err.strip()))
write_ini(extra="CodePage=martian\n")
code, out, err = run(["rename", "-n", d], ENV)
c.check(code == 2 and "martian" in err, "an unknown code page in the settings is told (%s)" % err.strip())
write_ini(extra="Template={MIDlet-Vendor/{MIDlet-Name}\n")
code, out, err = run(["rename", "-n", d], ENV)
c.check(code == 2 and "unbalanced" in err, "a bad template in the settings is told (%s)" % err.strip())
c.eq(sorted(os.listdir(d)), ["a.jar", "b.jar"], "no rename with a bad value")

# Bytes that no code page defines still give a safe name.
d = os.path.join(work, "noise")
noise = b"Manifest-Version: 1.0\r\nMIDlet-Name: \x81\x8d\x8f\x90\x9d\xff\xfe\r\n\r\n"
write_jar(os.path.join(d, "n.jar"), noise)
write_ini(add_version=False)
code, out, err = run(["rename", d], ENV)
names = os.listdir(d.encode())
c.check(code == 0 and len(names) == 1 and names[0].decode("utf-8", "strict").endswith(".jar"),
        "bytes of no code page: a UTF-8 name (%r, %s)" % (names, err.strip()))

# ------------------------------------------------------------ templates
write_ini()
d = os.path.join(work, "tmpl")
jars = {
    "a.jar": encoded(manifest(TEXTS["ru"][0], "full"), "windows-1251"),
    "b.jar": encoded(manifest(TEXTS["ja"][0], "full"), "shift_jis"),
    "c.jar": encoded(manifest(("Pure", "Acme", "x"), "full"), "ascii"),
    "nov.jar": encoded(manifest(("Lonely", "", ""), "name"), "ascii"),
}
for name, data in jars.items():
    write_jar(os.path.join(d, name), data)
code, out, err = run(["rename", "--template", "{MIDlet-Vendor}/{midlet-name} {MIDlet-Version}", d], ENV)
c.eq(code, 1, "template: the JAR without a vendor makes the status 1")
c.check("nov.jar: kept (no MIDlet-Vendor)" in out, "template: the missing attribute is named (%s)" % out)
for want in ("Мобильные игры/Игра Змейка 1.0.jar", "モバイルゲーム/テトリス 1.0.jar", "Acme/Pure 1.0.jar", "nov.jar"):
    c.check(os.path.isfile(os.path.join(d, want)), "template: " + want)
code, out, err = run(["rename", "--template", "{file} [{ext}]", os.path.join(d, "nov.jar")], ENV)
c.check(os.path.isfile(os.path.join(d, "nov [jar].jar")), "template with {file} and {ext}")
write_ini(extra="Template={MIDlet-Name} by {MIDlet-Vendor}\n")
code, out, err = run(["rename", os.path.join(d, "Acme", "Pure 1.0.jar")], ENV)
c.check(os.path.isfile(os.path.join(d, "Acme", "Pure by Acme.jar")), "[Rename] Template= from the settings")

# Hostile values: nothing leaves the JAR's folder, nothing is replaced.
write_ini()
d = os.path.join(work, "hostile")
os.makedirs(d)
hostile = {
    "slash.jar": ["MIDlet-Name: Game", "MIDlet-Vendor: ../../escape"],
    "dots.jar": ["MIDlet-Name: Game", "MIDlet-Vendor: .."],
    "nul.jar": ["MIDlet-Vendor: Acme", "MIDlet-Name: Ga\0me"],
    "long.jar": ["MIDlet-Vendor: Big", "MIDlet-Name: " + "Ж" * 5000],
    "abs.jar": ["MIDlet-Name: /etc/passwd", "MIDlet-Vendor: Root"],
}
for name, lines in hostile.items():
    write_jar(os.path.join(d, name), ("Manifest-Version: 1.0\r\n" + "\r\n".join(lines) + "\r\n\r\n").encode())
with open(os.path.join(work, "outside"), "w") as f:
    f.write("a file the rename must not reach")
code, out, err = run(["rename", "--template", "{MIDlet-Vendor}/{MIDlet-Name}", d], ENV)
c.check(code in (0, 1) and "Traceback" not in err, "hostile values: no crash")
c.check("dots.jar: kept (the template makes the name '..')" in out, "a value '..' is refused (%s)" % out)
c.check(os.path.isfile(os.path.join(d, ".._.._escape", "Game.jar")), "a '/' in a value makes no folder")
c.check(os.path.isfile(os.path.join(d, "Acme", "Ga.jar")), "a NUL ends the manifest text")
c.check(os.path.isfile(os.path.join(d, "Root", "_etc_passwd.jar")), "an absolute value stays inside")
long_dir = os.path.join(d, "Big")
longs = os.listdir(long_dir) if os.path.isdir(long_dir) else []
c.check(len(longs) == 1 and len(longs[0].encode()) <= 255 and longs[0].endswith(".jar")
        and set(longs[0][:-4]) == {"Ж"}, "10,000 bytes: cut to 255 on a character (%r)" % longs)
with open(os.path.join(work, "outside")) as f:
    c.eq(f.read(), "a file the rename must not reach", "nothing outside the folder changed")
for root, dirs, files in os.walk(work):
    for f in files:
        c.check(os.path.realpath(os.path.join(root, f)).startswith(os.path.realpath(work)), "inside: " + f)

# A folder of the template that is a link leading elsewhere is not followed.
d = os.path.join(work, "link")
os.makedirs(os.path.join(work, "elsewhere"))
os.makedirs(d)
os.symlink(os.path.join(work, "elsewhere"), os.path.join(d, "Acme"))
write_jar(os.path.join(d, "l.jar"), encoded(manifest(("Pure", "Acme", "x"), "full"), "ascii"))
code, out, err = run(["rename", "--template", "{MIDlet-Vendor}/{MIDlet-Name}", d], ENV)
c.eq((code, os.listdir(os.path.join(work, "elsewhere"))), (1, []), "a link is no folder of the template")

# ------------------------------------------------------------ collisions
d = os.path.join(work, "clash")
same = encoded(manifest(("Same", "V", "one"), "full"), "ascii")
write_jar(os.path.join(d, "Same 1.0.jar"), same)
write_jar(os.path.join(d, "a.jar"), encoded(manifest(("Same", "V", "two"), "full"), "ascii"))
write_jar(os.path.join(d, "b.jar"), encoded(manifest(("Same", "V", "three"), "full"), "ascii"))
shutil.copy(os.path.join(d, "Same 1.0.jar"), os.path.join(d, "copy.jar"))
before = {n: digest(os.path.join(d, n)) for n in os.listdir(d)}
code, out, err = run(["rename", d], ENV)
c.eq((code, sorted(os.listdir(d))), (1, sorted(before)), "by default a taken name keeps the JAR's name")
code, results, err = rename_json(["-n", "--on-conflict=number", d])
got = {os.path.basename(r["path"]): (r["result"], os.path.basename(r.get("new_path", ""))) for r in results}
c.eq(got, {"Same 1.0.jar": ("unchanged", ""), "a.jar": ("renamed", "Same 1.0 (2).jar"),
           "b.jar": ("renamed", "Same 1.0 (3).jar"), "copy.jar": ("duplicate", "")}, "numbering, dry run")
code, out, err = run(["rename", "--on-conflict", "number", d], ENV)
c.eq(code, 0, "numbering: a duplicate is no failure")
c.check("copy.jar: duplicate (duplicate of 'Same 1.0.jar')" in out, "the duplicate is reported (%s)" % out)
c.check(out.splitlines()[-1].endswith("1 duplicate"), "summary counts the duplicate: " + out.splitlines()[-1])
after = {n: digest(os.path.join(d, n)) for n in os.listdir(d)}
c.eq(sorted(after), ["Same 1.0 (2).jar", "Same 1.0 (3).jar", "Same 1.0.jar", "copy.jar"], "numbered names")
c.eq(sorted(after.values()), sorted(before.values()), "every JAR kept its bytes")
code, out, err = run(["rename", "--on-conflict=number", d], ENV)
c.eq(code, 0, "numbering again changes nothing")
c.eq(sorted(os.listdir(d)), sorted(after), "numbered JARs stay where they are")

if not c.failures:
    shutil.rmtree(work)
c.finish()
