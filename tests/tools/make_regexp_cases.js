#!/usr/bin/env node
// Writes tests/data/regexp_cases.txt: the matches V8's RegExp finds for the parsers' patterns and for dialect probes,
// which the C++ adapter must reproduce. Run from anywhere: node tests/tools/make_regexp_cases.js
//
// The page engine the patterns were written for saw only GBK text, so `.` never met U+2028/U+2029 and `\s` never
// met U+00A0, U+FEFF, U+2028 ...; before V8 runs a pattern, `.` becomes [^\r\n] and `\s`/`\S` the narrowed sets,
// the same narrowing the adapter applies. Everything else (classes, case folding, laziness, alternation order, the
// global scan) is V8's own.
//
// Record format, one per line, fields separated by a tab:
//   name  flags  hex(UTF-8 pattern)  hex(UTF-8 subject)  match count  comma-separated hex(UTF-8 match)
// Lines starting with '#' are comments.
//
// V8 advances past an empty match by one UTF-16 code unit, the adapter by one character; subjects with characters
// above U+FFFF are therefore used only where no empty match can fall inside them.
'use strict';

const fs = require('fs');
const path = require('path');

const outputPath = path.join(__dirname, '..', 'data', 'regexp_cases.txt');

const kWhiteSpace = '\\t\\n\\v\\f\\r \\u3000';
const kNonWhiteSpaceRanges = '\\0-\\x08\\x0e-\\x1f\\x21-\\u2fff\\u3001-\\uffff';

// The narrowing described above, on the pattern's source text.
function narrow(pattern) {
    let out = '';
    let inClass = false;
    for (let i = 0; i < pattern.length; i++) {
        const c = pattern[i];
        if (c === '\\') {
            const next = pattern[i + 1] ?? '';
            i++;
            if (next === 's') {
                out += inClass ? kWhiteSpace : `[${kWhiteSpace}]`;
            } else if (next === 'S') {
                out += inClass ? kNonWhiteSpaceRanges : `[^${kWhiteSpace}]`;
            } else {
                out += c + next;
            }
        } else if (inClass) {
            if (c === ']') inClass = false;
            out += c;
        } else if (c === '[') {
            inClass = true;
            out += c;
            if (pattern[i + 1] === '^') {
                out += '^';
                i++;
            }
        } else if (c === '.') {
            out += '[^\\r\\n]';
        } else {
            out += c;
        }
    }
    return out;
}

function expectedMatches(pattern, subject, flags) {
    const re = new RegExp(narrow(pattern), flags);
    if (flags.includes('g')) return subject.match(re) ?? [];
    const m = re.exec(subject);
    return m ? [m[0]] : [];
}

const hex = (text) => Buffer.from(text, 'utf8').toString('hex');

const cases = [];
function add(name, pattern, subject, flags = 'gi') {
    cases.push({name, pattern, subject, flags});
}

// ---- The parsers' patterns -----------------------------------------------------------------------------------

const kLandline = '(\\d{3,4}-)?\\d{7,8}';
const kLandlineGrouped = '(\\d{3}-)(\\d{3,4}-)(\\d{3,4})';
const kMobilePrefixes = '134|135|136|137|138|139|147|150|151|152|157|158|159|178|182|183|184|187|188|130|131|132|' +
    '145|155|156|176|185|186|133|153|177|180|181|189';
const kMobile = `(${kMobilePrefixes})\\d{8}`;
const kEmail = '[A-Z0-9._%+-]+@[A-Z0-9.-]+\\.[A-Z]{2,4}';
const kQq = 'uin=[\\d]*&';
const kTitle = '<title[^>]*>[^>]*</title>';
const kAddress = '地.*址\\S*';
const kContactLinks = ['联系我们', '联系方式', '关于我们', '联系'].map((w) => `<a[^>]*>[^>]*${w}[^>]*</a>`);
const kContactLinkExact = '<a[^>]*>联系我们</a>';
const kBaiduPromoted = '<div id="[^>]*(data-click=)[^>]*>([\\s\\S]*?)推广';
const kBaiduResult = '<div[^>]*(srcid=)[^>]*>([\\s\\S]*?)(快照)';
const kBaiduAdAnchor = '<a[^>]*baidu.com/baidu.php?[^>]*>(?:.|[\\r\\n])*?</a>';
const kSoAdAnchor = '<a[^>]*http://e.so.com/search/eclk?[^>]*>(?:.|[\\r\\n])*?</a>';
const kSogouAdAnchor = '<a[^>]*http://www.sogou.com/bill_cpc?[^>]*>(?:.|[\\r\\n])*?</a>';
const kAnyAnchor = '<a[^>]*http://[^>]*>(?:.|[\\r\\n])*?</a>';
const kTableRow = '<tr>([\\s\\S]*?)</tr>';

const contactPage = [
    '<!DOCTYPE html><HTML><HEAD><meta charset="utf-8"><TITLE>广州市天河区某某电子科技有限公司-联系我们</TITLE>',
    '<title id="second">备用标题</title></HEAD>',
    '<body><div class="nav"><a href="/">首页</a> <A HREF="/about.html" target="_blank">关于我们</A>',
    '<a href="/contact.html"><span>联系方式</span></a> <a href="/lx.html" class=nav>联系我们</a>',
    '<a\r\nhref="/contact2.html">在线联系</a></div>',
    '<div class="contact">',
    '<p>电话：020-87654321　传真：0755-1234567 总机:(020)38881234</p>',
    '<p>热线：400-800-1234 分机 010-6543-2101</p>',
    '<p>手机：13812345678 / 159-8765-4321 / 18688886666 / 12345678901 / 1701234567890</p>',
    '<p>E-mail：Sales@Example.COM, info.cn@mail.example.com.cn; 错误：@nohost, a@b.c, x_y%z+w@sub-domain.org</p>',
    '<p>QQ：<a target="_blank" href="tencent://message/?uin=12345678&Site=某某&Menu=yes">在线咨询</a>',
    ' <a href="http://wpa.qq.com/msgrd?v=3&UIN=87654321&site=qq&menu=yes">QQ交谈</a> uin=&empty</p>',
    '<p>地址：广州市天河区体育西路100号<br/>邮编：510000</p>',
    '<table><tr><td>地址</td><td>深圳市南山区科技园</td></tr></table>',
    '<p>公司地址: 北京市朝阳区建国路88号 SOHO现代城 2号楼</p>\r\n<p>本地服务 所在地：上海 详细地址：浦东</p>',
    '<p>全角：０２０－８７６５４３２１　１３８１２３４５６７８</p>',
    '</body></HTML>',
].join('\r\n');

const baiduPage = [
    '<div id="content_left">',
    '<div id="3001" class="ec_wise" data-click="{\'rsv_cd\':\'1\'}" style="display:block">',
    '<h3><a href="http://www.baidu.com/baidu.php?url=a000Kq&us=1" target="_blank">广州<em>电子公司</em>-某某科技</a></h3>',
    '<div class="c-abstract">专业生产电子产品 厂家直销</div>',
    '<a class="c-showurl" href="http://www.baidu.com/baidu.php?url=a000Kr">www.example.com</a>',
    '<span class="ec-tuiguang">推广</span></div>',
    '<DIV id="3002" data-click="{}" class="EC_wise"><A HREF="http://www.baidu.com/baidu.php?url=B1"',
    '  target=_blank>某某<EM>电子</EM>\r\n有限公司</A><span>推广</span></DIV>',
    '<div class="result c-container" id="1" srcid="1599" tpl="se_com_default" data-click="{}">',
    '<h3 class="t"><a href="http://www.baidu.com/link?url=xyz" target="_blank">广州电子有限公司 官网</a></h3>',
    '<div class="c-abstract">公司简介……</div><a class="m" href="http://cache.baiduc.com/c?m=1">百度快照</a></div>',
    '<div class="result" id="2" srcid="1599"><h3><a href="http://www.baidu.com/link?url=abc">另一家</a></h3>',
    '<a href="http://cache.baiducontent.com/c?m=2">快照</a></div>',
    '<a href="http://wwwXbaiduYcom/baidu.php?url=odd">unescaped dots match any character</a>',
    '<a href="http://www.baidu.com/baidu.phpx?url=odd">the ? makes the p optional</a>',
    '<a href="http://www.baidu.com/baidu.ph?url=odd">last letter missing</a>',
    '</div>',
].join('\n');

const soPage = [
    '<ul id="e_idea_pp">',
    '<li><a href="http://e.so.com/search/eclk?p=abc&q=1" target="_blank" data-ad=1>',
    '  某某<em>电子</em>公司\r\n  官方网站</a></li>',
    '<li><A HREF="HTTP://E.SO.COM/SEARCH/ECLK?p=def">大写的链接</A></li>',
    '<li><a href="http://e.so.com/search/eclx?p=ghi">ecl 加另一个字符</a></li>',
    '<li><a href="http://eXsoYcom/search/eclk?p=jkl">点号匹配任意字符</a></li>',
    '<li><a href="https://e.so.com/search/eclk?p=tls">https 不算</a></li>',
    '<li><a href="http://www.example.com/" >普通链接</a><a href="/rel">相对</a></li>',
    '</ul>',
].join('\n');

const sogouPage = [
    '<div class="biz_sponsor">',
    '<a href="http://www.sogou.com/bill_cpc?v=1&p=abc" id="sogou_vr_1">广州<em>电子</em>厂</a>',
    '<a href="http://www.sogou.com/bill_cp?v=1">缺最后一个字母</a>',
    '<a id=x href="http://wwwQsogouQcom/bill_cpc?v=2">任意字符</a>',
    '<a href="http://www.sogou.com/bill_cpc?v=3"\n>跨\n行\n</a>',
    '</div>',
].join('\n');

const icpPage = [
    '<table class="result"><TR><th>主办单位</th></TR>',
    '<tr><td>某某电子科技有限公司</td><td>企业</td></tr>',
    '<tr>\r\n<td>粤ICP备12345678号</td>\r\n</tr><tr></tr>',
    '<tr class="x"><td>不匹配：tr 带属性</td></tr>',
    '</table>',
].join('\n');

for (const page of [contactPage, baiduPage, soPage, sogouPage, icpPage]) {
    const label = page === contactPage ? 'contact' : page === baiduPage ? 'baidu' : page === soPage ? 'so'
        : page === sogouPage ? 'sogou' : 'icp';
    const patterns = {
        landline: kLandline, landlineGrouped: kLandlineGrouped, mobile: kMobile, email: kEmail, qq: kQq,
        title: kTitle, address: kAddress, linkExact: kContactLinkExact, baiduPromoted: kBaiduPromoted,
        baiduResult: kBaiduResult, baiduAd: kBaiduAdAnchor, soAd: kSoAdAnchor, sogouAd: kSogouAdAnchor,
        anyAnchor: kAnyAnchor, tableRow: kTableRow,
    };
    kContactLinks.forEach((p, i) => { patterns[`contactLink${i}`] = p; });
    for (const [name, pattern] of Object.entries(patterns)) add(`${label}.${name}`, pattern, page);
}

// ---- Dialect probes ------------------------------------------------------------------------------------------

add('lazy anchor across lines', kAnyAnchor, '<a href="http://x">one\r\ntwo\nthree</a> tail </a>');
add('lazy anchor ends at first close', kAnyAnchor, '<a href="http://a">1</a><a href="http://b">2</a>');
add('lazy class loop to chinese', '([\\s\\S]*?)推广', '甲\n乙\r\n推广丙推广');
add('greedy vs lazy', '<b>.*</b>', '<b>1</b><b>2</b>');
add('greedy vs lazy 2', '<b>.*?</b>', '<b>1</b><b>2</b>');
add('lazy plus and optional', 'a+?|b??c', 'aaa bc c');
add('s matches ideographic space', '\\s', 'a\u3000b c\td\ne\rf\vg\fh');
add('s skips nbsp feff ls', '\\s', 'a\u00a0b\ufeffc\u2028d\u2029e\u1680f\u2003g');
add('S spans nbsp', '\\S+', 'a\u00a0b\ufeff\u2028c d\u3000e');
add('s in class', '[\\s]+', 'x \u3000\u00a0\t\u2028y');
add('S in class', '[\\S]+', 'x \u3000\u00a0\t\u2028y');
add('s S class is any', '[\\s\\S]+', 'a\r\n\u2028\u3000b');
add('negated s class', '[^\\s]+', 'ab\u00a0c d');
add('negated S class', '[^\\S]+', 'ab\u00a0 \u3000\tc');
add('dot stops at line breaks only', '.+', 'ab\u2028cd\u2029ef\r\ngh\u0085ij');
add('dot or line break', '(?:.|[\\r\\n])+', 'a\r\nb\u2028c');
add('digit ascii only', '\\d+', '12３４56٧8');
add('full width phone', kLandline, '０２０－８７６５４３２１');
add('mobile first prefix wins', kMobile, '13912345678 1301234567890 130123456789');
add('mobile inside longer number', kMobile, '8613812345678901');
add('landline on mobile', kLandline, '13812345678');
add('landline groups', kLandline, '020-1234567 0755-12345678 12-1234567 020-123456');
add('grouped landline', kLandlineGrouped, '400-800-1234 010-6543-2101 12-345-6789 400-8000-12345');
add('email capitals', kEmail, 'SALES@EXAMPLE.COM Mixed.Case@Sub.Example.Org a@b.cn x@y.comcom');
add('email capital class', '[A-Z]+', 'abcXYZ123def');
add('email no case flag', '[A-Z]+', 'abcXYZ123def', 'g');
add('kelvin sign not k', 'k+', 'k\u212aK\u212akK');
add('kelvin in class', '[a-z]+', 'ok\u212aok\u017fs\u0130i\u0131');
add('long s not s', 's', 'S\u017fs');
add('kelvin sign not k among alternatives', 'k|2', 'k\u212aK2');
add('long s not s among alternatives', 'x|s|2', 'S\u017fs');
add('long s not s from a class among alternatives', '[s]|[k]|-', 'S\u017fsK\u212a-');
add('kelvin sign not k, case kept', '[Kk]|2', 'k\u212aK2', 'g');
add('non-boundary only between characters', '\\B', '中a文 b\u00e9\u3000');
add('control digit and underscore in a class', '[\\c_\\c0-9]+', '\u001f%\\c_09');
add('upper case tags', '<a[^>]*>[^>]*联系我们[^>]*</a>', '<A HREF="/c.html">联系我们</A><a href=x>联系我们</A>');
add('upper title', kTitle, '<TITLE>某公司</TITLE><Title lang=zh>次</tItLe>');
add('eclk optional k', 'eclk?/', 'eclk/ ecl/ eclx/ ECLK/');
add('eclk other char', 'search/eclk?[^>]*>', 'search/eclx?p=1>');
add('dot in host', 'www.baidu.com', 'wwwXbaiduYcom www.baidu.com');
add('qq bracket digit', kQq, 'uin=123& uin=& UIN=9& uin=12a&');
add('escaped dot literal', 'a\\.b', 'a.b axb');
add('escaped slash and hyphen', '\\/\\-', '/- /x');
add('hyphen at class edges', '[-a]+|[b-]+', '-a-b-');
add('class range over non letters', '[0-z]+', '09:@AZ[]_az{');
add('class range over non letters 2', '[Z-a]+', 'YZ[\\]^_`abAB');
add('class range upper', '[A-C]+', 'abcdABCD');
add('negated class with case', '[^a-c]+', 'xyzABCabcXYZ');
add('class escape range', '[\\d-z]+', '1-z5Z');
add('hex escape case', '\\x41+', 'aAa');
add('unicode escape', '\\u4e2d+', '中中文');
add('control escapes', '\\t|\\n', 'a\tb\nc');
add('identity escape letter', '\\z', 'zZ');
add('stray braces literal', 'a{,2}|{x}|b}', 'a{,2} {X} b}');
add('brace quantifier', 'a{2}|b{1,}|c{1,2}', 'aaa bbb ccc');
add('lazy brace quantifier', 'a{2,}?', 'aaaaa');
add('alternation order', 'ab|abc', 'abc');
add('alternation order 2', '(a|ab)(c|bcd)', 'abcd');
add('non capturing', '(?:ab)+', 'ababab');
add('anchors without multiline', '^a|b$', 'aa\nab\nb');
add('caret only at start', '^a', 'aaa');
add('dollar not before final newline', 'a$', 'aa\n');
add('word boundary', '\\bab', 'ab cab ab_ab');
add('crlf line ends', '.+', 'one\r\ntwo\r\n\r\nthree');
add('empty match star', 'a*', 'baaacaa');
add('empty match chinese', 'x*', '中x文字');
add('empty match optional', 'b?', 'abba');
add('empty pattern', '', 'ab');
add('empty alternation', 'a|', 'bab');
add('empty match lazy', 'a*?', 'aa');
add('global off first', '\\d+', 'a1b22', 'i');
add('global off none', '\\d+', 'abc', 'i');
add('case sensitive', '<a>', '<A><a>', 'g');
add('astral in class loop', '<[^>]*>', '<😀 x>😀<y>');
add('no match', kAddress, 'no such text at all');
add('address stops at white space', kAddress, '地址：广州市 天河区\n地点址\r\n址 地\u3000址X 地址\u00a0Y');
add('address greedy to last on line', kAddress, '所在地：上海 详细地址：浦东新区\n第二行');

// ---- Generated patterns and subjects -------------------------------------------------------------------------
// Small random patterns over a small alphabet, so that V8 and the adapter are compared on combinations nobody
// wrote down: class parsing, escapes, case pairs, quantifier forms, alternation order and the global scan.

// xorshift32: the same cases on every run and every Node.js version.
let seed = 20240517;
function random(n) {
    seed ^= seed << 13;
    seed ^= seed >>> 17;
    seed ^= seed << 5;
    seed >>>= 0;
    return seed % n;
}
const pick = (list) => list[random(list.length)];

const kSubjectAlphabet = ['a', 'A', 'b', 'B', 'k', 'K', 's', 'z', '0', '5', '9', '-', '.', '_', ' ', '\t', '\r', '\n',
    '<', '>', '/', '中', '推', '\u3000', '\u00a0', '\u2028', '\u212a', '\u017f', '\uff10', '{', ']', '\\', '^'];
const kClassItems = ['a', 'B', 'k', 'z', '0', '-', '.', '_', ' ', '中', '\\d', '\\D', '\\s', '\\S', '\\w', '\\W',
    'a-c', 'A-Z', '0-9', '0-z', 'Z-a', '\\x41', '\\u4e2d', '\\-', '\\]', '\\\\', '^', '\\n', '\\r', '\u3000', '\\b'];
const kAtoms = ['a', 'b', 'B', 'k', 'S', 's', 'z', '0', '-', '_', ' ', '中', '推', '.', '\\d', '\\D', '\\s', '\\S',
    '\\w', '\\W', '\\.', '\\/', '\\-', '\\x41', '\\u4e2d', '\\n', '\\r', '\\t', '<', '>', '\\\\', '\\^', '\\{', '}'];
const kQuantifiers = ['', '', '', '*', '+', '?', '*?', '+?', '??', '{2}', '{1,3}', '{0,2}?', '{2,}'];
const kGroupQuantifiers = ['', '', '?', '??', '{2}'];
const kMandatoryGroupQuantifiers = ['', '', '{2}'];

function matchesEmpty(body) {
    try {
        return new RegExp(`^(?:${narrow(body)})$`).test('');
    } catch {
        return false;  // the whole pattern is refused later anyway
    }
}

function randomClass() {
    let text = random(4) === 0 ? '[^' : '[';
    const count = 1 + random(3);
    for (let i = 0; i < count; i++) text += pick(kClassItems);
    return text + ']';
}

function randomTerm(depth) {
    let atom;
    const kind = random(10);
    if (kind < 5) {
        atom = pick(kAtoms);
    } else if (kind < 8) {
        atom = randomClass();
    } else if (depth < 2) {
        // Groups take only bounded quantifiers: V8 backtracks, and a starred group of starred atoms can take it
        // exponential time on a failing subject.
        // ECMAScript also refuses an optional iteration that matches the empty string (`(?:a??)?` takes "a" where
        // RE2 takes ""); no pattern of ours has such a group, so only groups that cannot match empty get `?`.
        const body = randomAlternation(depth + 1);
        const opener = random(2) === 0 ? '(' : '(?:';
        const quantifiers = matchesEmpty(body) ? kMandatoryGroupQuantifiers : kGroupQuantifiers;
        return opener + body + ')' + pick(quantifiers);
    } else {
        atom = pick(kAtoms);
    }
    return atom + pick(kQuantifiers);
}

function randomSequence(depth) {
    let text = '';
    const count = 1 + random(3);
    for (let i = 0; i < count; i++) text += randomTerm(depth);
    return text;
}

function randomAlternation(depth) {
    let text = randomSequence(depth);
    if (random(4) === 0) text += '|' + randomSequence(depth);
    return text;
}

// Never empty: the adapter gives no match at all on an empty subject, where V8 would find an empty match.
// Characters of the pattern itself are mixed in so that more subjects match.
function randomSubject(pattern) {
    const alphabet = kSubjectAlphabet.concat([...pattern.replace(/[\\[\](){}*+?|^$]/g, '')]);
    let text = '';
    const length = 1 + random(40);
    for (let i = 0; i < length; i++) text += pick(alphabet);
    return text;
}

const kGeneratedCount = 1000;
for (let made = 0; made < kGeneratedCount;) {
    const pattern = randomAlternation(0);
    try {
        new RegExp(narrow(pattern));
    } catch {
        continue;  // not a pattern of this dialect
    }
    const flags = pick(['gi', 'gi', 'gi', 'g', 'i']);
    add(`generated ${made}`, pattern, randomSubject(pattern), flags);
    made++;
}

// ---- Output ----------------------------------------------------------------------------------------------------

const lines = [
    '# Generated by tests/tools/make_regexp_cases.js with Node.js ' + process.version + '; do not edit.',
    '# name<TAB>flags<TAB>hex(pattern)<TAB>hex(subject)<TAB>count<TAB>hex(match),hex(match),...',
];
for (const c of cases) {
    const matches = expectedMatches(c.pattern, c.subject, c.flags);
    lines.push([c.name, c.flags, hex(c.pattern), hex(c.subject), matches.length, matches.map(hex).join(',')]
                   .join('\t'));
}
fs.writeFileSync(outputPath, lines.join('\n') + '\n');
console.log(`${cases.length} cases written to ${outputPath}`);
