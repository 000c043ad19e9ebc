#!/usr/bin/perl
# Writes src/text/codepage_tables.cpp: the byte -> UTF-16 tables of the
# Windows code pages the library converts without iconv.
#
# Input: the Windows mappings compiled into Perl's Encode module (Debian's
# perl / libperl packages; cp932, cp936, cp949 and cp950 come from
# Encode::JP, ::CN, ::KR and ::TW). Every byte and every lead byte + trail
# byte pair is decoded with FB_CROAK; what decodes to one character is the
# table. The encoder is then asked which byte sequence it writes for every
# character reached from more than one sequence, and that choice is kept.
#
# What the tables hold, and the rules added to the data:
#  - 0x00-0x7F are ASCII on every page (checked): only 0x80-0xFF are stored.
#  - Single-byte pages: a byte of 0x80-0x9F the mapping leaves undefined
#    reads as the C1 control of the same value (U+0080-U+009F), as Windows
#    reads it; other undefined bytes hold no character.
#  - Double-byte pages: a byte that does not decode alone is a lead byte;
#    its row lists the trail bytes from the first to the last one mapped.
#  - Encoding is the exact inverse of decoding. The encoder's one-way
#    "best fit" substitutions (U+00AA -> 'a', U+00A5 -> '\' ...) are left
#    out on purpose: they change text silently, where an unmapped character
#    becomes the default character and the caller is told.
#
# Usage: scripts/gen_codepage_tables.pl [output.cpp]
use strict;
use warnings;
use Encode ();
use File::Basename qw(dirname);
use File::Spec;

my $out = $ARGV[0]
    // File::Spec->catfile(dirname(__FILE__), '..', 'src', 'text', 'codepage_tables.cpp');

my @pages = (
    [874,  'cp874',  'Thai'],
    [932,  'cp932',  'Japanese (Shift-JIS)'],
    [936,  'cp936',  'Simplified Chinese (GBK)'],
    [949,  'cp949',  'Korean (Unified Hangul Code)'],
    [950,  'cp950',  'Traditional Chinese (Big5)'],
    [1250, 'cp1250', 'Central European'],
    [1251, 'cp1251', 'Cyrillic'],
    [1252, 'cp1252', 'Western European'],
    [1253, 'cp1253', 'Greek'],
    [1254, 'cp1254', 'Turkish'],
    [1255, 'cp1255', 'Hebrew'],
    [1256, 'cp1256', 'Arabic'],
    [1257, 'cp1257', 'Baltic'],
    [1258, 'cp1258', 'Vietnamese'],
    [437,  'cp437',  'OEM United States'],
    [850,  'cp850',  'OEM Multilingual Latin 1'],
    [866,  'cp866',  'OEM Russian'],
);
my %double_byte = map { $_ => 1 } (932, 936, 949, 950);
my $NONE = 0xFFFF;

sub decode_one {
    my ($enc, $bytes) = @_;
    my $u = eval { $enc->decode($bytes, Encode::FB_CROAK | Encode::LEAVE_SRC) };
    return undef unless defined $u && length($u) == 1;
    my $c = ord $u;
    die sprintf("%s: %s decodes outside the BMP or to U+FFFF\n", $enc->name, unpack('H*', $bytes))
        if $c > 0xFFFD || ($c >= 0xD800 && $c <= 0xDFFF);
    return $c;
}

sub encoder_choice {
    my ($enc, $c) = @_;
    my $b = eval { $enc->encode(chr($c), Encode::FB_CROAK | Encode::LEAVE_SRC) };
    return (defined $b && length $b) ? $b : undef;
}

# Ideographs and Hangul syllables go into the source as they are (stable under
# every normalisation form, easy to check against a code chart); anything else
# as \u escapes.
sub literal_unit {
    my ($c) = @_;
    return chr($c) if ($c >= 0x4E00 && $c <= 0x9FFF) || ($c >= 0x3400 && $c <= 0x4DBF)
                   || ($c >= 0xAC00 && $c <= 0xD7A3);
    return sprintf('\\u%04X', $c);
}

sub hex2 { sprintf('0x%02X', $_[0]) }

my @body;
my @entries;
my @summary;
for my $page (@pages) {
    my ($id, $name, $title) = @$page;
    my $enc = Encode::find_encoding($name) or die "Encode lacks $name\n";
    for my $b (0 .. 0x7F) {
        my $c = decode_one($enc, chr $b);
        die "$name: byte $b is not ASCII\n" unless defined $c && $c == $b;
    }
    my (@high, %sequences);
    my @rows;    # [first, count, [cells]] per byte 0x80-0xFF
    my $pairs = 0;
    for my $b (0x80 .. 0xFF) {
        my $c = decode_one($enc, chr $b);
        if (!defined $c && !$double_byte{$id} && $b <= 0x9F) {
            $c = $b;    # undefined C1 byte
        } elsif (defined $c) {
            push @{ $sequences{$c} }, chr $b;
        }
        push @high, $c // $NONE;
        my @cells;
        if (!defined $c && $double_byte{$id}) {
            for my $t (0 .. 0xFF) {
                my $p = decode_one($enc, chr($b) . chr($t));
                next unless defined $p;
                die "$name: trail byte below 0x40\n" if $t < 0x40;
                $cells[$t] = $p;
                push @{ $sequences{$p} }, chr($b) . chr($t);
                ++$pairs;
            }
        }
        my @mapped = grep { defined $cells[$_] } 0 .. $#cells;
        if (@mapped) {
            my ($first, $last) = ($mapped[0], $mapped[-1]);
            push @rows, [$b, $first, [map { $cells[$_] // $NONE } $first .. $last]];
        } else {
            push @rows, [$b, 0, []];
        }
    }

    # The encoder's pick among several sequences for one character.
    my @preferred;
    for my $c (sort { $a <=> $b } keys %sequences) {
        my $choice = encoder_choice($enc, $c);
        die sprintf("%s: U+%04X decodes but does not encode back\n", $name, $c)
            unless defined $choice && grep { $_ eq $choice } @{ $sequences{$c} };
        next unless @{ $sequences{$c} } > 1;
        my @b = map { ord } split //, $choice;
        push @preferred, [$c, @b == 2 ? ($b[0] << 8) | $b[1] : $b[0]];
    }
    my $best_fit = 0;
    for my $c (0x80 .. 0xFFFF) {
        next if ($c >= 0xD800 && $c <= 0xDFFF) || exists $sequences{$c};
        ++$best_fit if defined encoder_choice($enc, $c);
    }

    my $singles = 128 + scalar grep { $_ != $NONE } @high;
    push @summary, sprintf('//   %-4d %-28s %3d single bytes, %5d pairs, %3d best-fit left out',
                           $id, $title, $singles, $pairs, $best_fit);

    push @body, "// ---- $id: $title " . ('-' x (70 - length("$id: $title")));
    push @body, "constexpr char16_t kHigh${id}[] =";
    for my $line (0 .. 7) {
        my @units = @high[$line * 16 .. $line * 16 + 15];
        my $from = 0x80 + $line * 16;
        push @body, sprintf('    /* %02X */ u"%s"%s', $from, join('', map { literal_unit($_) } @units),
                            $line == 7 ? ';' : '');
    }
    my ($rows_ref, $cells_ref, $preferred_ref, $preferred_count) = ('nullptr', 'nullptr', 'nullptr', 0);
    if ($double_byte{$id}) {
        push @body, "constexpr DbcsRow kRows${id}[128] = {";
        my $offset = 0;
        my @cell_lines;
        for my $row (@rows) {
            my ($lead, $first, $cells) = @$row;
            my $count = scalar @$cells;
            push @body, sprintf('    {%d, %s, %d},  // %02X', $offset, hex2($first), $count, $lead);
            next unless $count;
            push @cell_lines, sprintf('    /* %02X%02X-%02X%02X */ u"%s"', $lead, $first, $lead,
                                      $first + $count - 1, join('', map { literal_unit($_) } @$cells));
            $offset += $count;
        }
        die "$name: more cells than a row offset holds\n" if $offset > 0xFFFF;
        push @body, '};';
        push @body, "constexpr char16_t kCells${id}[] =";
        $cell_lines[-1] .= ';';
        push @body, @cell_lines;
        ($rows_ref, $cells_ref) = ("kRows${id}", "kCells${id}");
        push @body, "static_assert(sizeof(kCells${id}) / sizeof(char16_t) == $offset + 1);";
    }
    if (@preferred) {
        push @body, "constexpr Preferred kPreferred${id}[] = {";
        my @items = map { sprintf('{0x%04X, 0x%04X}', @$_) } @preferred;
        while (my @line = splice(@items, 0, 6)) {
            push @body, '    ' . join(', ', @line) . ',';
        }
        push @body, '};';
        ($preferred_ref, $preferred_count) = ("kPreferred${id}", scalar @preferred);
    }
    push @body, '';
    push @entries, sprintf('    {%d, kHigh%d, %s, %s, %s, %d},', $id, $id, $rows_ref, $cells_ref,
                           $preferred_ref, $preferred_count);
}

open(my $fh, '>:encoding(UTF-8)', $out) or die "$out: $!\n";
print $fh <<"HEAD";
// Generated by scripts/gen_codepage_tables.pl from the Windows code page
// mappings of Perl's Encode $Encode::VERSION. Do not edit by hand.
//
HEAD
print $fh "$_\n" for @summary;
print $fh <<'HEAD';
//
// Each table lists the characters of the bytes 0x80-0xFF read alone
// (U+FFFF: a lead byte or no character) and, for double-byte pages, one row
// of trail bytes per lead byte, the cells of all rows in one array.
// clang-format off
#include "text/codepage_tables.h"

namespace tk::platform::detail {

namespace {

HEAD
print $fh "$_\n" for @body;
print $fh "}  // namespace\n\n";
print $fh "const CodePageTable kCodePageTables[kCodePageTableCount] = {\n";
print $fh "$_\n" for @entries;
print $fh "};\n";
printf $fh "static_assert(kCodePageTableCount == %d);\n\n", scalar @entries;
print $fh "}  // namespace tk::platform::detail\n";
close $fh;
