<?xml version="1.0" encoding="UTF-8"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text" encoding="UTF-8"/>
  <xsl:template match="/ORDER">
    <xsl:text>Purchase order </xsl:text><xsl:value-of select="NUMBER"/>
    <xsl:text> of </xsl:text><xsl:value-of select="DATE"/>
    <xsl:text> from </xsl:text><xsl:value-of select="SENDER"/>
    <xsl:text> to </xsl:text><xsl:value-of select="RECEIVER"/>
    <xsl:text>&#10;</xsl:text>
    <xsl:for-each select="LINES/LINE">
      <xsl:text>  </xsl:text><xsl:value-of select="@quantity"/>
      <xsl:text> x </xsl:text><xsl:value-of select="."/>
      <xsl:text> (</xsl:text><xsl:value-of select="@item"/>
      <xsl:text>) at </xsl:text><xsl:value-of select="@price"/>
      <xsl:text>&#10;</xsl:text>
    </xsl:for-each>
    <xsl:text>Total: </xsl:text>
    <xsl:call-template name="total"><xsl:with-param name="lines" select="LINES/LINE"/></xsl:call-template>
    <xsl:text>&#10;</xsl:text>
  </xsl:template>
  <xsl:template name="total">
    <xsl:param name="lines"/>
    <xsl:param name="sum" select="0"/>
    <xsl:choose>
      <xsl:when test="$lines">
        <xsl:call-template name="total">
          <xsl:with-param name="lines" select="$lines[position() &gt; 1]"/>
          <xsl:with-param name="sum" select="$sum + $lines[1]/@quantity * $lines[1]/@price"/>
        </xsl:call-template>
      </xsl:when>
      <xsl:otherwise><xsl:value-of select="format-number($sum, '0.00')"/></xsl:otherwise>
    </xsl:choose>
  </xsl:template>
</xsl:stylesheet>
