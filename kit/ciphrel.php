<?php
// Reads and writes what the Ciphrel Encryption Object reads and writes: escaped strings,
// integer blocks and files, in plain PHP (no extension; OpenSSL 3 keeps Blowfish only in
// its legacy provider).
//
//   require __DIR__ . '/ciphrel.php';
//   ciphrel_decrypt_string('Level7Key', $rawQueryValue);       // the game's text
//   ciphrel_encrypt_string('Level7Key', 'OK', CIPHREL_INTERNET);
//
// Keys and texts are byte strings; like the object, only the first 56 key bytes count.
// Command line: php ciphrel.php OPERATION KEY_HEX [ARGUMENTS]   (see ciphrel_usage())

const CIPHREL_MAX_KEY = 56;
// Bytes each filter escapes, as strings of those bytes: a new object's default (codes 0
// to 31 and "%"), the setup dialog's "Internet" preset, and everything but letters,
// digits and -._~ (URL-safe).
define('CIPHREL_DEFAULT', implode('', array_map('chr', range(0, 31))) . '%');
define('CIPHREL_INTERNET', CIPHREL_DEFAULT . '&=,. ?+');
define('CIPHREL_URL_SAFE', implode('', array_filter(array_map('chr', range(0, 255)),
    fn($c) => !ctype_alnum($c) && strpos('-._~', $c) === false)));

// Blowfish's initial tables: the first 8336 hexadecimal digits of pi's fraction.
const CIPHREL_PI_HEX =
    "243f6a8885a308d313198a2e03707344a4093822299f31d0082efa98ec4e6c89452821e638d01377be5466cf" .
    "34e90c6cc0ac29b7c97c50dd3f84d5b5b54709179216d5d98979fb1bd1310ba698dfb5ac2ffd72dbd01adfb7" .
    "b8e1afed6a267e96ba7c9045f12c7f9924a19947b3916cf70801f2e2858efc16636920d871574e69a458fea3" .
    "f4933d7e0d95748f728eb658718bcd5882154aee7b54a41dc25a59b59c30d5392af26013c5d1b023286085f0" .
    "ca417918b8db38ef8e79dcb0603a180e6c9e0e8bb01e8a3ed71577c1bd314b2778af2fda55605c60e65525f3" .
    "aa55ab945748986263e8144055ca396a2aab10b6b4cc5c341141e8cea15486af7c72e993b3ee1411636fbc2a" .
    "2ba9c55d741831f6ce5c3e169b87931eafd6ba336c24cf5c7a325381289586773b8f48986b4bb9afc4bfe81b" .
    "6628219361d809ccfb21a991487cac605dec8032ef845d5de98575b1dc262302eb651b8823893e81d396acc5" .
    "0f6d6ff383f442392e0b4482a484200469c8f04a9e1f9b5e21c66842f6e96c9a670c9c61abd388f06a51a0d2" .
    "d8542f68960fa728ab5133a36eef0b6c137a3be4ba3bf0507efb2a98a1f1651d39af017666ca593e82430e88" .
    "8cee8619456f9fb47d84a5c33b8b5ebee06f75d885c12073401a449f56c16aa64ed3aa62363f77061bfedf72" .
    "429b023d37d0d724d00a1248db0fead349f1c09b075372c980991b7b25d479d8f6e8def7e3fe501ab6794c3b" .
    "976ce0bd04c006bac1a94fb6409f60c45e5c9ec2196a246368fb6faf3e6c53b51339b2eb3b52ec6f6dfc511f" .
    "9b30952ccc814544af5ebd09bee3d004de334afd660f2807192e4bb3c0cba85745c8740fd20b5f39b9d3fbdb" .
    "5579c0bd1a60320ad6a100c6402c7279679f25fefb1fa3cc8ea5e9f8db3222f83c7516dffd616b152f501ec8" .
    "ad0552ab323db5fafd23876053317b483e00df829e5c57bbca6f8ca01a87562edf1769dbd542a8f6287effc3" .
    "ac6732c68c4f5573695b27b0bbca58c8e1ffa35db8f011a010fa3d98fd2183b84afcb56c2dd1d35b9a53e479" .
    "b6f84565d28e49bc4bfb9790e1ddf2daa4cb7e3362fb1341cee4c6e8ef20cada36774c01d07e9efe2bf11fb4" .
    "95dbda4dae909198eaad8e716b93d5a0d08ed1d0afc725e08e3c5b2f8e7594b78ff6e2fbf2122b648888b812" .
    "900df01c4fad5ea0688fc31cd1cff191b3a8c1ad2f2f2218be0e1777ea752dfe8b021fa1e5a0cc0fb56f74e8" .
    "18acf3d6ce89e299b4a84fe0fd13e0b77cc43b81d2ada8d9165fa2668095770593cc7314211a1477e6ad2065" .
    "77b5fa86c75442f5fb9d35cfebcdaf0c7b3e89a0d6411bd3ae1e7e4900250e2d2071b35e226800bb57b8e0af" .
    "2464369bf009b91e5563911d59dfa6aa78c14389d95a537f207d5ba202e5b9c5832603766295cfa911c81968" .
    "4e734a41b3472dca7b14a94a1b5100529a532915d60f573fbc9bc6e42b60a47681e6740008ba6fb5571be91f" .
    "f296ec6b2a0dd915b6636521e7b9f9b6ff34052ec585566453b02d5da99f8fa108ba47996e85076a4b7a70e9" .
    "b5b32944db75092ec4192623ad6ea6b049a7df7d9cee60b88fedb266ecaa8c71699a17ff5664526cc2b19ee1" .
    "193602a575094c29a0591340e4183a3e3f54989a5b429d656b8fe4d699f73fd6a1d29c07efe830f54d2d38e6" .
    "f0255dc14cdd20868470eb266382e9c6021ecc5e09686b3f3ebaefc93c9718146b6a70a1687f358452a0e286" .
    "b79c5305aa5007373e07841c7fdeae5c8e7d44ec5716f2b8b03ada37f0500c0df01c1f040200b3ffae0cf51a" .
    "3cb574b225837a58dc0921bdd19113f97ca92ff69432477322f547013ae5e58137c2dadcc8b576349af3dda7" .
    "a94461460fd0030eecc8c73ea4751e41e238cd993bea0e2f3280bba1183eb3314e548b384f6db9086f420d03" .
    "f60a04bf2cb8129024977c795679b072bcaf89afde9a771fd9930810b38bae12dccf3f2e5512721f2e6b7124" .
    "501adde69f84cd877a5847187408da17bc9f9abce94b7d8cec7aec3adb851dfa63094366c464c3d2ef1c1847" .
    "3215d908dd433b3724c2ba1612a14d432a65c45150940002133ae4dd71dff89e10314e5581ac77d65f11199b" .
    "043556f1d7a3c76b3c11183b5924a509f28fe6ed97f1fbfa9ebabf2c1e153c6e86e34570eae96fb1860e5e0a" .
    "5a3e2ab3771fe71c4e3d06fa2965dcb999e71d0f803e89d65266c8252e4cc9789c10b36ac6150eba94e2ea78" .
    "a5fc3c531e0a2df4f2f74ea7361d2b3d1939260f19c279605223a708f71312b6ebadfe6eeac31f66e3bc4595" .
    "a67bc883b17f37d1018cff28c332ddefbe6c5aa56558218568ab9802eecea50fdb2f953b2aef7dad5b6e2f84" .
    "1521b62829076170ecdd4775619f151013cca830eb61bd960334fe1eaa0363cfb5735c904c70a239d59e9e0b" .
    "cbaade14eecc86bc60622ca79cab5cabb2f3846e648b1eaf19bdf0caa02369b9655abb5040685a323c2ab4b3" .
    "319ee9d5c021b8f79b540b19875fa09995f7997e623d7da8f837889a97e32d7711ed935f166812810e358829" .
    "c7e61fd696dedfa17858ba9957f584a51b2272639b83c3ff1ac24696cdb30aeb532e30548fd948e46dbc3128" .
    "58ebf2ef34c6ffeafe28ed61ee7c3c735d4a14d9e864b7e342105d14203e13e045eee2b6a3aaabeadb6c4f15" .
    "facb4fd0c742f442ef6abbb5654f3b1d41cd2105d81e799e86854dc7e44b476a3d816250cf62a1f25b8d2646" .
    "fc8883a0c1c7b6a37f1524c369cb749247848a0b5692b285095bbf00ad19489d1462b17423820e0058428d2a" .
    "0c55f5ea1dadf43e233f70613372f0928d937e41d65fecf16c223bdb7cde3759cbee74604085f2a7ce77326e" .
    "a607808419f8509ee8efd85561d99735a969a7aac50c06c25a04abfc800bcadc9e447a2ec3453484fdd56705" .
    "0e1e9ec9db73dbd3105588cd675fda79e3674340c5c43465713e38d83d28f89ef16dff20153e21e78fb03d4a" .
    "e6e39f2bdb83adf7e93d5a68948140f7f64c261c94692934411520f77602d4f7bcf46b2ed4a20068d4082471" .
    "3320f46a43b7d4b7500061af1e39f62e9724454614214f74bf8b88404d95fc1d96b591af70f4ddd366a02f45" .
    "bfbc09ec03bd97857fac6dd031cb850496eb27b355fd3941da2547e6abca0a9a28507825530429f40a2c86da" .
    "e9b66dfb68dc1462d7486900680ec0a427a18dee4f3ffea2e887ad8cb58ce0067af4d6b6aace1e7cd3375fec" .
    "ce78a399406b2a4220fe9e35d9f385b9ee39d7ab3b124e8b1dc9faf74b6d185626a36631eae397b23a6efa74" .
    "dd5b43326841e7f7ca7820fbfb0af54ed8feb397454056acba48952755533a3a20838d87fe6ba9b7d096954b" .
    "55a867bca1159a58cca9296399e1db33a62a4a563f3125f95ef47e1c9029317cfdf8e80204272f7080bb155c" .
    "05282ce395c11548e4c66d2248c1133fc70f86dc07f9c9ee41041f0f404779a45d886e17325f51ebd59bc0d1" .
    "f2bcc18f41113564257b7834602a9c60dff8e8a31f636c1b0e12b4c202e1329eaf664fd1cad181156b2395e0" .
    "333e92e13b240b62eebeb92285b2a20ee6ba0d99de720c8c2da2f728d012784595b794fd647d0862e7ccf5f0" .
    "5449a36f877d48fac39dfd27f33e8d1e0a476341992eff743a6f6eabf4f8fd37a812dc60a1ebddf8991be14c" .
    "db6e6b0dc67b55106d672c372765d43bdcd0e804f1290dc7cc00ffa3b5390f92690fed0b667b9ffbcedb7d9c" .
    "a091cf0bd9155ea3bb132f88515bad247b9479bf763bd6eb37392eb3cc1159798026e297f42e312d6842ada7" .
    "c66a2b3b12754ccc782ef11c6a124237b79251e706a1bbe64bfb63501a6b101811caedfa3d25bdd8e2e1c3c9" .
    "444216590a121386d90cec6ed5abea2a64af674eda86a85fbebfe98864e4c3fe9dbc8057f0f7c08660787bf8" .
    "6003604dd1fd8346f6381fb07745ae04d736fccc83426b33f01eab71b08041873c005e5f77a057bebde8ae24" .
    "55464299bf582e614e58f48ff2ddfda2f474ef388789bdc25366f9c3c8b38e74b475f25546fcd9b97aeb2661" .
    "8b1ddf84846a0e79915f95e2466e598e20b457708cd55591c902de4cb90bace1bb8205d011a862487574a99e" .
    "b77f19b6e0a9dc09662d09a1c4324633e85a1f0209f0be8c4a99a0251d6efe101ab93d1d0ba5a4dfa186f20f" .
    "2868f169dcb7da83573906fea1e2ce9b4fcd7f5250115e01a70683faa002b5c40de6d0279af88c27773f8641" .
    "c3604c0661a806b5f0177a28c0f586e0006058aa30dc7d6211e69ed72338ea6353c2dd94c2c21634bbcbee56" .
    "90bcb6deebfc7da1ce591d766f05e4094b7c018839720a3d7c927c2486e3725f724d9db91ac15bb4d39eb8fc" .
    "ed54557808fca5b5d83d7cd34dad0fc41e50ef5eb161e6f8a28514d96c51133c6fd5c7e756e14ec4362abfce" .
    "ddc6c837d79a323492638212670efa8e406000e03a39ce37d3faf5cfabc277375ac52d1b5cb0679e4fa33742" .
    "d382274099bc9bbed5118e9dbf0f7315d62d1c7ec700c47bb78c1b6b21a19045b26eb1be6a366eb45748ab2f" .
    "bc946e79c6a376d26549c2c8530ff8ee468dde7dd5730a1d4cd04dc62939bbdba9ba4650ac9526e8be5ee304" .
    "a1fad5f06a2d519a63ef8ce29a86ee22c089c2b843242ef6a51e03aa9cf2d0a483c061ba9be96a4d8fe51550" .
    "ba645bd62826a2f9a73a3ae14ba99586ef5562e9c72fefd3f752f7da3f046f6977fa0a5980e4a91587b08601" .
    "9b09e6ad3b3ee593e990fd5a9e34d7972cf0b7d9022b8b5196d5ac3a017da67dd1cf3ed67c7d2d281f9f25cf" .
    "adf2b89b5ad6b4725a88f54ce029ac71e019a5e647b0acfded93fa9be8d3c48d283b57ccf8d5662979132e28" .
    "785f0191ed756055f7960e44e3d35e8c15056dd488f46dba03a161250564f0bdc3eb9e153c9057a297271aec" .
    "a93a072a1b3f6d9b1e6321f5f59c66fb26dcf3197533d928b155fdf5035634828aba3cbb28517711c20ad9f8" .
    "abcc5167ccad925f4de817513830dc8e379d58629320f991ea7a90c2fb3e7bce5121ce64774fbe32a8b6e37e" .
    "c3293d4648de53696413e680a2ae0810dd6db22469852dfd09072166b39a460a6445c0dd586cdecf1c20c8ae" .
    "5bbef7dd1b588d40ccd2017f6bb4e3bbdda26a7e3a59ff453e350a44bcb4cdd572eacea8fa6484bb8d6612ae" .
    "bf3c6f47d29be463542f5d9eaec2771bf64e6370740e0d8de75b1357f8721671af537d5d4040cb084eb4e2cc" .
    "34d2466a0115af84e1b0042895983a1d06b89fb4ce6ea0486f3f3b823520ab82011a1d4b277227f8611560b1" .
    "e7933fdcbb3a792b344525bda08839e151ce794b2f32c9b7a01fbac9e01cc87ebcc7d1f6cf0111c3a1e8aac7" .
    "1a908749d44fbd9ad0dadecbd50ada380339c32ac69136678df9317ce0b12b4ff79e59b743f5bb3af2d519ff" .
    "27d9459cbf97222c15e6fc2a0f91fc719b941525fae59361ceb69cebc2a8645912baa8d1b6c1075ee3056a0c" .
    "10d25065cb03a442e0ec6e0e1698db3b4c98a0be3278e9649f1f9532e0d392dfd3a0342b8971f21e1b0a7441" .
    "4ba3348cc5be7120c37632d8df359f8d9b992f2ee60b6f470fe3f11de54cda541edad891ce6279cfcd3e7e6f" .
    "1618b166fd2c1d05848fd2c5f6fb2299f523f357a632762393a8353156cccd02acf081625a75ebb56e163697" .
    "88d273ccde96629281b949d04c50901b71c65614e6c6c7bd327a140a45e1d006c3f27b9ac9aa53fd62a80f00" .
    "bb25bfe235bdd2f671126905b2040222b6cbcf7ccd769c2b53113ec01640e3d338abbd602547adf0ba38209c" .
    "f746ce7677afa1c52075606085cbfe4e8ae88dd87aaaf9b04cf9aa7e1948c25c02fb8a8c01c36ae4d6ebe1f9" .
    "90d4f869a65cdea03f09252dc208e69fb74e6132ce77e25b578fdfe33ac372e6";

final class CiphrelBlowfish
{
    private array $p;
    private array $s;

    public function __construct(string $key)
    {
        $key = substr($key, 0, CIPHREL_MAX_KEY);
        if ($key === '') $key = "\0";       // an empty key is one zero byte
        $words = array_values(unpack('N*', hex2bin(CIPHREL_PI_HEX)));
        $this->p = array_slice($words, 0, 18);
        $this->s = [];
        for ($i = 0; $i < 4; $i++) $this->s[] = array_slice($words, 18 + 256 * $i, 256);
        for ($i = 0, $j = 0; $i < 18; $i++) {
            $word = 0;
            for ($k = 0; $k < 4; $k++, $j = ($j + 1) % strlen($key)) {
                $word = (($word << 8) | ord($key[$j])) & 0xFFFFFFFF;
            }
            $this->p[$i] ^= $word;
        }
        $l = $r = 0;
        for ($i = 0; $i < 18; $i += 2) {
            [$l, $r] = $this->encryptBlock($l, $r);
            [$this->p[$i], $this->p[$i + 1]] = [$l, $r];
        }
        for ($box = 0; $box < 4; $box++) {
            for ($i = 0; $i < 256; $i += 2) {
                [$l, $r] = $this->encryptBlock($l, $r);
                [$this->s[$box][$i], $this->s[$box][$i + 1]] = [$l, $r];
            }
        }
    }

    private function rounds(int $l, int $r, int $first, int $step): array
    {
        [$s0, $s1, $s2, $s3] = $this->s;
        for ($n = 0, $i = $first; $n < 16; $n++, $i += $step) {
            $l ^= $this->p[$i];
            $f = (((($s0[$l >> 24] + $s1[($l >> 16) & 255]) & 0xFFFFFFFF) ^ $s2[($l >> 8) & 255])
                  + $s3[$l & 255]) & 0xFFFFFFFF;
            [$l, $r] = [$r ^ $f, $l];
        }
        // The last exchange undone, then the two outer P words.
        return [$r ^ $this->p[$first + 17 * $step], $l ^ $this->p[$first + 16 * $step]];
    }

    public function encryptBlock(int $l, int $r): array { return $this->rounds($l, $r, 0, 1); }
    public function decryptBlock(int $l, int $r): array { return $this->rounds($l, $r, 17, -1); }

    // Every whole 8-byte block; a final piece of 1 to 7 bytes stays as it is.
    public function transform(string $data, bool $encrypt): string
    {
        $whole = strlen($data) - strlen($data) % 8;
        $out = '';
        for ($i = 0; $i < $whole; $i += 8) {
            [, $l, $r] = unpack('V2', $data, $i);
            [$l, $r] = $encrypt ? $this->encryptBlock($l, $r) : $this->decryptBlock($l, $r);
            $out .= pack('V2', $l, $r);
        }
        return $out . substr($data, $whole);
    }
}

// Windows-1252's bytes 0x80 to 0x9F as UTF-8; the five it leaves undefined stand for
// themselves, as Windows converts them.
const CIPHREL_CP1252_HIGH = ["\u{20AC}", "\u{81}", "\u{201A}", "\u{192}", "\u{201E}",
    "\u{2026}", "\u{2020}", "\u{2021}", "\u{2C6}", "\u{2030}", "\u{160}", "\u{2039}",
    "\u{152}", "\u{8D}", "\u{17D}", "\u{8F}", "\u{90}", "\u{2018}", "\u{2019}", "\u{201C}",
    "\u{201D}", "\u{2022}", "\u{2013}", "\u{2014}", "\u{2DC}", "\u{2122}", "\u{161}",
    "\u{203A}", "\u{153}", "\u{9D}", "\u{17E}", "\u{178}"];

// The key bytes a key text (UTF-8) stands for: its Windows-1252 bytes, the game's own
// encoding. A character Windows-1252 has no byte for is an InvalidArgumentException naming it.
function ciphrel_key_bytes_from_text(string $text): string
{
    if (!preg_match('//u', $text)) {
        throw new InvalidArgumentException(
            'the key text is not valid UTF-8; give the key in hexadecimal');
    }
    $out = '';
    foreach (preg_split('//u', $text, -1, PREG_SPLIT_NO_EMPTY) as $char) {
        $bytes = array_values(unpack('C*', $char));
        $code = match (count($bytes)) {
            1 => $bytes[0],
            2 => ($bytes[0] & 0x1F) << 6 | $bytes[1] & 0x3F,
            3 => ($bytes[0] & 0x0F) << 12 | ($bytes[1] & 0x3F) << 6 | $bytes[2] & 0x3F,
            default => ($bytes[0] & 0x07) << 18 | ($bytes[1] & 0x3F) << 12
                       | ($bytes[2] & 0x3F) << 6 | $bytes[3] & 0x3F,
        };
        $high = array_search($char, CIPHREL_CP1252_HIGH, true);
        if ($code < 0x80 || ($code >= 0xA0 && $code <= 0xFF)) {
            $out .= chr($code);
        } elseif ($high !== false) {
            $out .= chr(0x80 + $high);
        } else {
            throw new InvalidArgumentException(sprintf('the key text holds %s (U+%04X), which '
                . 'Windows-1252 has no byte for; give the key in hexadecimal', $char, $code));
        }
    }
    return $out;
}

function ciphrel_cipher(string $key): CiphrelBlowfish
{
    static $ciphers = [];
    return $ciphers[$key] ??= new CiphrelBlowfish($key);
}

function ciphrel_padded(string $data): string
{
    return $data . str_repeat("\0", (8 - strlen($data) % 8) % 8);
}

function ciphrel_up_to_zero(string $data): string
{
    $zero = strpos($data, "\0");
    return $zero === false ? $data : substr($data, 0, $zero);
}

// Each byte of $escaped (and always the zero byte and "%") as "%" and two digits.
function ciphrel_escape(string $data, string $escaped = CIPHREL_DEFAULT): string
{
    $out = '';
    foreach (str_split($data) as $c) {
        $filtered = $c !== '' && ($c === "\0" || $c === '%' || strpos($escaped, $c) !== false);
        $out .= $filtered ? sprintf('%%%02X', ord($c)) : $c;
    }
    return $out;
}

// Every "%" and the two characters after it as one byte, as the object decodes.
function ciphrel_unescape(string $text): string
{
    $text = ciphrel_up_to_zero($text);
    $value = function (int $i) use ($text): int {   // '0'-'9' 0-9, others their code - 55
        $c = $i < strlen($text) ? ord($text[$i]) : 0;
        return $c >= 48 && $c <= 57 ? $c - 48 : $c - 55;
    };
    $out = '';
    for ($i = 0; $i < strlen($text); $i += $text[$i] === '%' ? 3 : 1) {
        $out .= $text[$i] === '%' ? chr((16 * $value($i + 1) + $value($i + 2)) & 255) : $text[$i];
    }
    return $out;
}

// The escaped cipher text that "EncryptString$(" gives for $text.
function ciphrel_encrypt_string(string $key, string $text, string $escaped = CIPHREL_DEFAULT): string
{
    $plain = ciphrel_padded(ciphrel_up_to_zero($text));
    return ciphrel_escape(ciphrel_cipher($key)->transform($plain, true), $escaped);
}

// The text that "DecryptString$(" gives for an escaped cipher text.
function ciphrel_decrypt_string(string $key, string $text): string
{
    $data = ciphrel_padded(ciphrel_unescape($text));
    return ciphrel_up_to_zero(ciphrel_cipher($key)->transform($data, false));
}

function ciphrel_signed(int $word): int
{
    return $word >= 0x80000000 ? $word - 0x100000000 : $word;
}

// Both halves that "EncryptInteger(" gives, as the game's signed integers.
function ciphrel_encrypt_int(string $key, int $l, int $r): array
{
    return array_map('ciphrel_signed',
                     ciphrel_cipher($key)->encryptBlock($l & 0xFFFFFFFF, $r & 0xFFFFFFFF));
}

function ciphrel_decrypt_int(string $key, int $l, int $r): array
{
    return array_map('ciphrel_signed',
                     ciphrel_cipher($key)->decryptBlock($l & 0xFFFFFFFF, $r & 0xFFFFFFFF));
}

// A file's bytes as "Encrypt a File" leaves them: padded with zeros to whole blocks, or
// without padding the final piece of 1 to 7 bytes left as it is.
function ciphrel_encrypt_file(string $key, string $data, bool $padding = true): string
{
    return ciphrel_cipher($key)->transform($padding ? ciphrel_padded($data) : $data, true);
}

function ciphrel_decrypt_file(string $key, string $data, bool $padding = true): string
{
    return ciphrel_cipher($key)->transform($padding ? ciphrel_padded($data) : $data, false);
}

// The value of $name in a query string exactly as sent, not decoded: $_GET has already
// turned the object's "%XX" escapes into other bytes. Null when the name is absent.
function ciphrel_raw_query_value(string $query, string $name): ?string
{
    foreach (explode('&', $query) as $part) {
        $pair = explode('=', $part, 2);
        if ($pair[0] === $name) return $pair[1] ?? '';
    }
    return null;
}

// $text unescaped if it is escaped text of the filter $escaped (exactly its bytes escaped,
// in upper-case hex, as the object writes); else null, and $reason says why.
function ciphrel_strict_unescape(string $text, string $escaped, ?string &$reason): ?string
{
    $data = '';
    for ($i = 0; $i < strlen($text); $i++) {
        if ($text[$i] !== '%') {
            if (strpos($escaped, $text[$i]) !== false) {
                $reason = sprintf('data has byte 0x%02X at offset %d, which the filter escapes',
                                  ord($text[$i]), $i);
                return null;
            }
            $data .= $text[$i];
            continue;
        }
        $digits = substr($text, $i + 1, 2);
        if (!preg_match('/^[0-9A-F]{2}$/D', $digits)
            || strpos($escaped, chr(hexdec($digits))) === false) {
            $reason = "data has an escape at offset $i that the object does not write";
            return null;
        }
        $data .= chr(hexdec($digits));
        $i += 2;
    }
    return $data;
}

// Why $text cannot be escaped cipher text that the object wrote under the filter $escaped,
// or null when it can: a character the filter escapes, an escape of a byte it leaves as it
// is (or in lower case), a length that is no whole number of blocks, or text URL-encoded
// again by a client (each "%" sent as "%25"), which then unescapes to escaped text of whole
// blocks. Cipher bytes look like that by chance only with four such escapes or more among
// them, each a "%" and two hex digits: under the URL-safe filter, less than once in 10^15.
function ciphrel_cipher_text_error(string $text, string $escaped = CIPHREL_URL_SAFE): ?string
{
    $escaped .= "\0%";
    $data = ciphrel_strict_unescape($text, $escaped, $reason);
    if ($data === null) return $reason;
    if (strlen($data) % 8 !== 0) {
        return sprintf('data is %d bytes once unescaped, not a whole number of 8-byte blocks',
                       strlen($data));
    }
    $inner = ciphrel_strict_unescape($data, $escaped, $ignored);
    if (strpos($data, '%') !== false && $inner !== null && strlen($inner) % 8 === 0) {
        return 'data is URL-encoded twice: send the text exactly as the game wrote it';
    }
    return null;
}

function ciphrel_usage(): string
{
    return <<<'TEXT'
usage: php ciphrel.php OPERATION KEY [ARGUMENTS]
  encrypt-string KEY [default|internet|url-safe|CODES_HEX] < text > escaped text
  decrypt-string KEY < escaped text > text
  encrypt-file KEY [no-padding] < file > file           (decrypt-file alike)
  encrypt-int KEY L R                                   (decrypt-int alike)
  batch < lines "OPERATION KEY_HEX DATA_HEX [OPTION]" > lines of result hex
KEY is the key in hexadecimal (spaces and line breaks are ignored; "-" is the empty key),
or --key TEXT: the Windows-1252 bytes of the text, as the game has them. L and R are
32-bit integers, decimal or 0x hexadecimal, with an optional sign. A text read from
standard input loses one final line ending (LF or CR LF). In a batch, blank lines are
skipped, "-" stands for no bytes and an integer block is its 8 bytes.
TEXT;
}

final class CiphrelUsageError extends InvalidArgumentException {}

// Input that cannot be read (exit 6) or output that cannot be written (exit 7).
final class CiphrelStreamError extends RuntimeException {}

function ciphrel_unhex(string $text): string
{
    $hex = $text === '-' ? '' : preg_replace('/\s+/', '', $text);
    if (!preg_match('/^([0-9a-fA-F]{2})*$/D', $hex)) {
        throw new CiphrelUsageError("'$text' is not hexadecimal");
    }
    return hex2bin($hex);
}

// A 32-bit integer as the tool reads it: decimal or 0x hexadecimal with an optional sign,
// from -2^31 to 2^32 - 1, as its 32 bits.
function ciphrel_parse_word(string $text): int
{
    if (!preg_match('/^([-+]?)(?:0[xX]([0-9a-fA-F]+)|([0-9]+))$/D', $text, $match)) {
        throw new CiphrelUsageError("'$text' is not an integer");
    }
    // Leading zeros do not count; more than ten digits left are out of range anyway.
    $digits = ltrim($match[2] !== '' ? $match[2] : $match[3], '0');
    $value = strlen($digits) > 10 ? PHP_INT_MAX
           : ($match[2] !== '' ? intval($digits, 16) : intval($digits, 10));
    if ($value > ($match[1] === '-' ? 0x80000000 : 0xFFFFFFFF)) {
        throw new CiphrelUsageError(
            "$text is outside the 32-bit integers (-2147483648 to 4294967295)");
    }
    return $match[1] === '-' ? -$value & 0xFFFFFFFF : $value;
}

// One operation on bytes; the integer operations take and give an 8-byte block.
function ciphrel_run(string $operation, string $key, string $data, string $option = ''): string
{
    $filters = ['default' => CIPHREL_DEFAULT, 'internet' => CIPHREL_INTERNET,
                'url-safe' => CIPHREL_URL_SAFE];
    if ($operation === 'encrypt-string') {
        return ciphrel_encrypt_string($key, $data,
                                      $filters[$option ?: 'default'] ?? ciphrel_unhex($option));
    }
    if ($operation === 'decrypt-string') return ciphrel_decrypt_string($key, $data);
    if (in_array($operation, ['encrypt-file', 'decrypt-file']) && in_array($option, ['', 'no-padding'])) {
        $run = $operation === 'encrypt-file' ? 'ciphrel_encrypt_file' : 'ciphrel_decrypt_file';
        return $run($key, $data, $option !== 'no-padding');
    }
    if (in_array($operation, ['encrypt-int', 'decrypt-int']) && strlen($data) === 8) {
        $run = $operation === 'encrypt-int' ? 'ciphrel_encrypt_int' : 'ciphrel_decrypt_int';
        [, $l, $r] = unpack('V2', $data);
        [$l, $r] = $run($key, $l, $r);
        return pack('V2', $l, $r);
    }
    throw new CiphrelUsageError("unknown operation or option: $operation $option");
}

function ciphrel_read_input(): string
{
    $data = @stream_get_contents(STDIN);
    if ($data === false) throw new CiphrelStreamError('cannot read the input');
    return $data;
}

function ciphrel_write_output(string $data): void
{
    for ($done = 0; $done < strlen($data); $done += $written) {
        $written = @fwrite(STDOUT, substr($data, $done));
        if (!$written) {
            $error = error_get_last()['message'] ?? '';
            throw new CiphrelStreamError('cannot write the output'
                . (preg_match('/errno=\d+ (.*)/', $error, $m) ? ": $m[1]" : ''));
        }
    }
    if (!@fflush(STDOUT)) throw new CiphrelStreamError('cannot write the output');
}

// The command line, with the tool's exit status: 64 for a mistake in the arguments, 6 input
// that cannot be read, 7 output that cannot be written; one line tells why.
function ciphrel_main(array $args): int
{
    try {
        if ($args === ['batch']) {
            $results = '';
            foreach (preg_split('/\n/', ciphrel_read_input()) as $line) {
                $fields = preg_split('/\s+/', trim($line));
                if ($fields[0] === '') continue;
                if (count($fields) < 3) throw new CiphrelUsageError('short line: ' . trim($line));
                $result = ciphrel_run($fields[0], ciphrel_unhex($fields[1]),
                                      ciphrel_unhex($fields[2]), $fields[3] ?? '');
                $results .= ($result === '' ? '-' : bin2hex($result)) . "\n";
            }
            ciphrel_write_output($results);
            return 0;
        }
        if (count($args) >= 3 && $args[1] === '--key') {
            $key = ciphrel_key_bytes_from_text($args[2]);
            array_splice($args, 1, 1);
        } elseif (count($args) >= 2) {
            $key = ciphrel_unhex($args[1]);
        } else {
            throw new CiphrelUsageError('missing arguments');
        }
        $operation = $args[0];
        if (str_ends_with($operation, '-int')) {
            if (count($args) !== 4) {
                throw new CiphrelUsageError("$operation takes two integers, L and R");
            }
            $block = pack('V2', ciphrel_parse_word($args[2]), ciphrel_parse_word($args[3]));
            [, $l, $r] = unpack('l2', ciphrel_run($operation, $key, $block));
            ciphrel_write_output("$l $r\n");
            return 0;
        }
        $option = $args[2] ?? '';
        ciphrel_run($operation, $key, '', $option);     // a mistake is told before input is read
        $data = ciphrel_read_input();
        if (str_ends_with($operation, '-string')) $data = preg_replace('/\r?\n\z/', '', $data);
        ciphrel_write_output(ciphrel_run($operation, $key, $data, $option));
        return 0;
    } catch (CiphrelUsageError $error) {
        fwrite(STDERR, 'ciphrel.php: ' . $error->getMessage() . "\n" . ciphrel_usage() . "\n");
        return 64;
    } catch (InvalidArgumentException $error) {    // a key text with no Windows-1252 bytes
        fwrite(STDERR, 'ciphrel.php: ' . $error->getMessage() . "\n");
        return 64;
    } catch (CiphrelStreamError $error) {
        fwrite(STDERR, 'ciphrel.php: ' . $error->getMessage() . "\n");
        return str_contains($error->getMessage(), 'read') ? 6 : 7;
    }
}

if (PHP_SAPI === 'cli' && isset($argv[0]) && realpath($argv[0]) === __FILE__) {
    exit(ciphrel_main(array_slice($argv, 1)));
}
